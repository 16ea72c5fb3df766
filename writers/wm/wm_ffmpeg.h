#pragma once

// RAII for the FFmpeg and soxr handles of the layer, and what its parts share.

#include <memory>

#include <soxr.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include "writers/wm/wmvcore.h"

namespace kestrune::wm {

struct InputFormatDeleter {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct OutputFormatDeleter {
    void operator()(AVFormatContext* c) const {
        if (c->pb)
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SoxrDeleter {
    void operator()(soxr_t s) const { soxr_delete(s); }
};

using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
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
