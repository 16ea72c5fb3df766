// Apple Lossless in MP4 files.

#include <string_view>

#include "platform/bass/plugins/av_decoder.h"

namespace {

using namespace kestrune::bass;

bool Accept(const char* container, AVCodecID codec) {
    return codec == AV_CODEC_ID_ALAC &&
           std::string_view(container).find("mp4") != std::string_view::npos;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) Decoder* KestruneBassPluginOpen(
    const char* path) {
    return IsMp4(path) ? OpenAvDecoder(path, "mov", Accept) : nullptr;
}
