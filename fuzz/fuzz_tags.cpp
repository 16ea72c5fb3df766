// Everything a source's tags hold, read with TagLib (and FFmpeg for the containers TagLib does
// not know) as a conversion with tags from the source reads it. The input is named as a user's
// file of its kind would be, so that TagLib takes the parser its extension names; what is of
// no kind known here goes by its content.
#include <cstring>

#include "audio/tag_set.h"
#include "fuzz/fuzz_support.h"
#include "readers/tag_file_reader.h"

namespace {

const char* ExtensionFor(const uint8_t* d, size_t n) {
    auto starts = [d, n](const char* magic, size_t at = 0) {
        const size_t m = std::strlen(magic);
        return n >= at + m && std::memcmp(d + at, magic, m) == 0;
    };
    static const uint8_t kAsf[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
    static const uint8_t kEbml[] = {0x1A, 0x45, 0xDF, 0xA3};
    if (starts("ID3") || (n >= 2 && d[0] == 0xFF && (d[1] & 0xE0) == 0xE0))
        return ".mp3";
    if (starts("fLaC"))
        return ".flac";
    if (starts("OggS"))
        return n >= 36 && std::memcmp(d + 28, "OpusHead", 8) == 0 ? ".opus" : ".ogg";
    if (starts("ftyp", 4))
        return ".m4a";
    if (n >= sizeof kAsf && std::memcmp(d, kAsf, sizeof kAsf) == 0)
        return ".wma";
    if (starts("FORM"))
        return ".aiff";
    if (starts("RIFF"))
        return ".wav";
    if (starts("wvpk"))
        return ".wv";
    if (starts("MAC "))
        return ".ape";
    if (starts("MPCK") || starts("MP+"))
        return ".mpc";
    if (starts("TTA1"))
        return ".tta";
    if (n >= sizeof kEbml && std::memcmp(d, kEbml, sizeof kEbml) == 0)
        return ".mka";
    return ".tags";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrune::fuzz::InitLibraries();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = kestrune::fuzz::InputFile(data, size, ExtensionFor(data, size));
    kestrune::TagSet tags;
    kestrune::ReadFileTags(path, tags);
    return 0;
}
