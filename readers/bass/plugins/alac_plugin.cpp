// Apple Lossless in MP4 files.

#include <string_view>

#include "readers/bass/plugins/av_decoder.h"

namespace {

bool Accept(const char* container, AVCodecID codec) {
    return codec == AV_CODEC_ID_ALAC &&
           std::string_view(container).find("mp4") != std::string_view::npos;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) kestrune::bass::Decoder* KestruneBassPluginOpen(
    const char* path) {
    return kestrune::bass::OpenAvDecoder(path, Accept);
}
