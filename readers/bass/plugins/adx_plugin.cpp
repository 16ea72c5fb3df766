// CRI ADX streams.

#include <string_view>

#include "readers/bass/plugins/av_decoder.h"

namespace {

bool Accept(const char* container, AVCodecID codec) {
    return codec == AV_CODEC_ID_ADPCM_ADX && std::string_view(container) == "adx";
}

}  // namespace

extern "C" __attribute__((visibility("default"))) kestrune::bass::Decoder* KestruneBassPluginOpen(
    const char* path) {
    return kestrune::bass::OpenAvDecoder(path, Accept);
}
