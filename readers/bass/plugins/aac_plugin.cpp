// AAC in ADTS streams and in MP4 files (.m4a, .m4b, .mp4).

#include <string_view>

#include "readers/bass/plugins/av_decoder.h"

namespace {

bool Accept(const char* container, AVCodecID codec) {
    const std::string_view name(container);
    return codec == AV_CODEC_ID_AAC &&
           (name == "aac" || name.find("mp4") != std::string_view::npos);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) kestrune::bass::Decoder* KestruneBassPluginOpen(
    const char* path) {
    return kestrune::bass::OpenAvDecoder(path, Accept);
}
