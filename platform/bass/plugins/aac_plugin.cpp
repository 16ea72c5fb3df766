// AAC in ADTS streams and in MP4 files (.m4a, .m4b, .mp4).

#include <string_view>

#include "platform/bass/plugins/av_decoder.h"

namespace {

using namespace kestrune::bass;

bool Accept(const char* container, AVCodecID codec) {
    const std::string_view name(container);
    return codec == AV_CODEC_ID_AAC &&
           (name == "aac" || name.find("mp4") != std::string_view::npos);
}

// An ADTS header: 12 sync bits, layer 0, a valid sampling index.
bool IsAdts(const char* path) {
    const std::string h = FileBytes(path, Id3v2Size(path), 3);
    if (h.size() < 3)
        return false;
    const auto b1 = static_cast<unsigned char>(h[1]), b2 = static_cast<unsigned char>(h[2]);
    return static_cast<unsigned char>(h[0]) == 0xFF && (b1 & 0xF6) == 0xF0 &&
           ((b2 >> 2) & 0xF) < 13;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) Decoder* KestruneBassPluginOpen(
    const char* path) {
    if (IsMp4(path))
        return OpenAvDecoder(path, "mov", Accept);
    if (IsAdts(path))
        return OpenAvDecoder(path, "aac", Accept);
    return nullptr;
}
