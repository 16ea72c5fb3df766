// The WAV INFO tag reader, which a conversion with tags from the source asks when the
// decoding layer found none.
#include "audio/tag_set.h"
#include "fuzz/fuzz_support.h"
#include "readers/wav_info_tags.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrune::fuzz::InitLibraries();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = kestrune::fuzz::InputFile(data, size, ".wav");
    kestrune::TagSet tags;
    kestrune::ReadWavInfoTags(path, tags);
    return 0;
}
