#pragma once

// RAII for the soxr handles of the layer (the FFmpeg ones are shared), and what its parts
// share.

#include <memory>

#include <soxr.h>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include "common/ffmpeg_handles.h"
#include "platform/wmvcore/wmvcore.h"

namespace kestrune::wm {

using ffmpeg::CodecContextPtr;
using ffmpeg::FramePtr;
using ffmpeg::InputFormatPtr;
using ffmpeg::OutputFormatPtr;
using ffmpeg::PacketPtr;

struct SoxrDeleter {
    void operator()(soxr_t s) const { soxr_delete(s); }
};
using SoxrPtr = std::unique_ptr<std::remove_pointer_t<soxr_t>, SoxrDeleter>;

// The encoder that stands behind a format tag (WMAudioV8 is wmav2, WMAudioV7 wmav1).
AVCodecID EncoderForFormatTag(uint16_t formatTag);

// Opens the encoder with these parameters; null when it refuses them.
CodecContextPtr OpenWmaEncoder(AVCodecID id, int sampleRate, int bitRate, int channels);

// The media type of an encoded audio stream as the encoder describes it.
WmMediaType EncodedAudioType(uint16_t formatTag, const AVCodecContext& encoder);

// 16-bit interleaved PCM at this rate and channel count.
WmMediaType PcmType(int sampleRate, int channels);

}  // namespace kestrune::wm
