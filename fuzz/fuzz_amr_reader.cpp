// AMR storage files, narrow and wide band, through the reader and the AMR layers.
#include "fuzz/fuzz_support.h"
#include "readers/amr_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrune::fuzz::InitLibraries();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = kestrune::fuzz::InputFile(data, size, ".amr");
    kestrune::AmrReader reader;
    if (reader.Open(path, 0))
        kestrune::fuzz::ReadToEnd(reader);
    reader.Close();
    return 0;
}
