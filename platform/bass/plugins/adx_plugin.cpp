// CRI ADX streams.

#include <string_view>

#include "common/byte_order.h"
#include "platform/bass/plugins/av_decoder.h"

namespace {

using namespace kestrune::bass;

bool Accept(const char* container, AVCodecID codec) {
    return codec == AV_CODEC_ID_ADPCM_ADX && std::string_view(container) == "adx";
}

// The header starts with 0x8000 and the offset of the audio, which the copyright mark
// "(c)CRI" precedes.
bool IsAdx(const char* path) {
    const std::string h = FileBytes(path, 0, 4);
    if (h.size() < 4 || static_cast<unsigned char>(h[0]) != 0x80 || h[1] != 0)
        return false;
    const size_t offset = kestrune::LoadBe16(kestrune::AsBytes(h.data() + 2));
    return offset >= 6 && FileBytes(path, offset - 2, 6) == "(c)CRI";
}

}  // namespace

extern "C" __attribute__((visibility("default"))) Decoder* KestruneBassPluginOpen(
    const char* path) {
    return IsAdx(path) ? OpenAvDecoder(path, "adx", Accept) : nullptr;
}
