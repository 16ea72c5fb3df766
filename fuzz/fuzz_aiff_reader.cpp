// The AIFF and AIFF-C reader: PCM of every width, G.711, floats, IMA4, GSM, DWVW, and the ID3
// chunk, whose tags the program reads through the decoding layer from a carrier file.
#include "fuzz/fuzz_support.h"
#include "readers/aiff_reader.h"
#include "readers/bass_reader.h"

namespace {

int ReadCarrierTags(const std::string& mp3Path, kestrune::TagSet& tags) {
    kestrune::BassReader reader;
    if (!reader.Open(mp3Path, 0))
        return 0;
    const int found = reader.ReadTags(tags);
    reader.Close();
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrune::fuzz::InitLibraries();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = kestrune::fuzz::InputFile(data, size, ".aiff");
    kestrune::AiffReader reader;
    reader.SetTagSource(ReadCarrierTags);
    if (reader.Open(path, 0))
        kestrune::fuzz::ReadToEnd(reader);
    reader.Close();
    return 0;
}
