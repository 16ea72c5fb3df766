// The Sun AU reader with its G.711 and G.721/G.723 decoders.
#include "fuzz/fuzz_support.h"
#include "readers/au_reader.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrune::fuzz::InitLibraries();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = kestrune::fuzz::InputFile(data, size, ".au");
    kestrune::AuReader reader;
    if (reader.Open(path, 0))
        kestrune::fuzz::ReadToEnd(reader);
    reader.Close();
    return 0;
}
