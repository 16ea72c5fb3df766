#include "platform/bass/plugins/av_decoder.h"

extern "C" {
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <type_traits>

#include "common/ffmpeg_handles.h"
#include "common/no_coverage.h"
#include "platform/bass/plugins/plugin_support.h"

namespace kestrune::bass {

namespace {

using InputPtr = ffmpeg::InputFormatPtr;

InputPtr OpenInput(const char* path, const AVInputFormat* demuxer) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path, demuxer, nullptr) < 0)
        return nullptr;
    InputPtr input(raw);
    if (avformat_find_stream_info(input.get(), nullptr) < 0)
        return nullptr;
    return input;
}

// One decoded sample as 16 bits.
int16_t ToS16(uint8_t v) {
    return static_cast<int16_t>((v - 128) * 256);
}
int16_t ToS16(int16_t v) {
    return v;
}
int16_t ToS16(int32_t v) {
    return static_cast<int16_t>(v >> 16);
}
int16_t ToS16(int64_t v) {
    return static_cast<int16_t>(v >> 48);
}
int16_t ToS16(double v) {
    return static_cast<int16_t>(std::clamp<long>(std::lround(v * 32768.0), -32768, 32767));
}
int16_t ToS16(float v) {
    return ToS16(static_cast<double>(v));
}

// One decoded sample as a 32-bit integer with full scale at 2^31, where FFmpeg's 32-bit
// integers have it already.
int32_t ToS32(int16_t v) {
    return static_cast<int32_t>(v) * 65536;
}
int32_t ToS32(int32_t v) {
    return v;
}
template <typename T>
int32_t ToS32(T v) {
    return static_cast<int32_t>(ToS16(v)) * 65536;
}

// A frame's samples of type T, planar or interleaved, as interleaved 16-bit or 32-bit ones.
template <typename T, typename Out>
KESTRUNE_NO_COVERAGE void Interleave(const AVFrame* f, bool planar, size_t channels, size_t frames,
                                     Out* out) {
    for (size_t c = 0; c < channels; ++c) {
        const uint8_t* in = planar ? f->extended_data[c] : f->extended_data[0] + c * sizeof(T);
        const size_t step = (planar ? 1 : channels) * sizeof(T);
        for (size_t i = 0; i < frames; ++i, in += step) {
            T v;
            std::memcpy(&v, in, sizeof v);
            if constexpr (std::is_same_v<Out, int16_t>)
                out[i * channels + c] = ToS16(v);
            else
                out[i * channels + c] = ToS32(v);
        }
    }
}

// A whole frame into out, whatever FFmpeg's sample format.
template <typename Out>
void InterleaveFrame(const AVFrame* f, size_t channels, size_t frames, Out* out) {
    const auto fmt = static_cast<AVSampleFormat>(f->format);
    const bool planar = av_sample_fmt_is_planar(fmt);
    switch (av_get_packed_sample_fmt(fmt)) {
        case AV_SAMPLE_FMT_U8:
            return Interleave<uint8_t>(f, planar, channels, frames, out);
        case AV_SAMPLE_FMT_S16:
            return Interleave<int16_t>(f, planar, channels, frames, out);
        case AV_SAMPLE_FMT_S32:
            return Interleave<int32_t>(f, planar, channels, frames, out);
        case AV_SAMPLE_FMT_S64:
            return Interleave<int64_t>(f, planar, channels, frames, out);
        case AV_SAMPLE_FMT_FLT:
            return Interleave<float>(f, planar, channels, frames, out);
        case AV_SAMPLE_FMT_DBL:
            return Interleave<double>(f, planar, channels, frames, out);
        default:
            std::fill_n(out, frames * channels, Out{0});
    }
}

class AvDecoder : public Decoder {
public:
    bool Open(const char* path, const AVInputFormat* demuxer, AvAcceptFn accept) {
        demuxer_ = demuxer;
        input_ = OpenInput(path, demuxer);
        if (!input_)
            return false;
        const int index = av_find_best_stream(input_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (index < 0)
            return false;
        stream_ = index;
        AVStream* st = input_->streams[index];
        if (!accept(input_->iformat->name, st->codecpar->codec_id))
            return false;
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        if (!codec)
            return false;
        codec_.reset(avcodec_alloc_context3(codec));
        if (!codec_ || avcodec_parameters_to_context(codec_.get(), st->codecpar) < 0 ||
            avcodec_open2(codec_.get(), codec, nullptr) < 0)
            return false;
        packet_.reset(av_packet_alloc());
        frame_.reset(av_frame_alloc());
        if (!packet_ || !frame_)
            return false;
        const int rate = codec_->sample_rate;
        const int channels = codec_->ch_layout.nb_channels;
        if (rate <= 0 || channels <= 0)
            return false;
        format.rate = static_cast<uint32_t>(rate);
        format.channels = static_cast<uint32_t>(channels);
        format.bits = 16;
        // Only a lossless codec has a width of its own (ALAC's 16, 20, 24 or 32 bits).
        const AVCodecDescriptor* d = avcodec_descriptor_get(codec_->codec_id);
        if (d && (d->props & AV_CODEC_PROP_LOSSLESS) && codec_->bits_per_raw_sample > 0)
            format.sourceBits = static_cast<uint32_t>(codec_->bits_per_raw_sample);
        format.frames = Frames(path, index);
        format.fileBytes = input_->pb ? avio_size(input_->pb) : -1;
        if (format.fileBytes < 0)
            format.fileBytes = -1;
        return format.frames > 0;
    }

    long Decode(void* buffer, size_t bytes) override {
        if (format.bits == 32)
            return widePending_.Decode(buffer, bytes, format.channels,
                                       [this] { return NextFrame(); });
        return pending_.Decode(buffer, bytes, format.channels, [this] { return NextFrame(); });
    }

    bool SetWideOutput(bool floating) override {
        if (floating || format.sourceBits <= 16)
            return false;
        format.bits = 32;
        return true;
    }

private:
    // The decoded length. Containers with a sample table know it; for bare streams the
    // packets are walked once, without decoding.
    uint64_t Frames(const char* path, int index) {
        AVStream* st = input_->streams[index];
        const std::string container = input_->iformat->name;
        if (container.find("mp4") != std::string::npos && st->duration > 0)
            return static_cast<uint64_t>(
                av_rescale_q(st->duration, st->time_base, AVRational{1, codec_->sample_rate}));
        InputPtr scan = OpenInput(path, demuxer_);
        if (!scan)
            return 0;
        ffmpeg::PacketPtr pkt(av_packet_alloc());
        int64_t total = 0;
        while (pkt && av_read_frame(scan.get(), pkt.get()) >= 0) {
            if (pkt->stream_index == index)
                total += pkt->duration;
            av_packet_unref(pkt.get());
        }
        AVStream* s = scan->streams[index];
        return static_cast<uint64_t>(std::max<int64_t>(
            0, av_rescale_q(total, s->time_base, AVRational{1, codec_->sample_rate})));
    }

    // 1 when a frame was decoded into pending_, 0 at the end, -1 on an error.
    int NextFrame() {
        for (;;) {
            const int rc = avcodec_receive_frame(codec_.get(), frame_.get());
            if (rc == 0) {
                Append();
                av_frame_unref(frame_.get());
                return 1;
            }
            if (rc == AVERROR_EOF)
                return 0;
            if (rc != AVERROR(EAGAIN))
                return -1;
            if (flushed_)
                return 0;
            const int r = av_read_frame(input_.get(), packet_.get());
            if (r < 0) {
                flushed_ = true;
                avcodec_send_packet(codec_.get(), nullptr);
                continue;
            }
            if (packet_->stream_index == stream_) {
                // A damaged packet is dropped; the next one decodes again.
                avcodec_send_packet(codec_.get(), packet_.get());
            }
            av_packet_unref(packet_.get());
        }
    }

    void Append() {
        const AVFrame* f = frame_.get();
        const size_t channels = format.channels;
        if (static_cast<size_t>(f->ch_layout.nb_channels) != channels)
            return;
        const size_t frames = static_cast<size_t>(f->nb_samples);
        if (format.bits == 32)
            InterleaveFrame(f, channels, frames, widePending_.Extend(frames * channels));
        else
            InterleaveFrame(f, channels, frames, pending_.Extend(frames * channels));
    }

    const AVInputFormat* demuxer_ = nullptr;
    InputPtr input_;
    ffmpeg::CodecContextPtr codec_;
    ffmpeg::PacketPtr packet_;
    ffmpeg::FramePtr frame_;
    int stream_ = -1;
    bool flushed_ = false;
    PendingPcm pending_;
    PendingSamples<int32_t> widePending_;
};

}  // namespace

std::string FileBytes(const char* path, size_t offset, size_t n) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(n, '\0');
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(bytes.data(), static_cast<std::streamsize>(n));
    bytes.resize(in ? n : static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
}

size_t Id3v2Size(const char* path) {
    const std::string h = FileBytes(path, 0, 10);
    if (h.size() < 10 || h.compare(0, 3, "ID3") != 0)
        return 0;
    auto b = [&](int i) { return static_cast<size_t>(static_cast<unsigned char>(h[i]) & 0x7f); };
    return 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9)) + ((h[5] & 0x10) ? 10 : 0);
}

bool IsMp4(const char* path) {
    const std::string h = FileBytes(path, 4, 4);
    return h == "ftyp" || h == "moov" || h == "mdat" || h == "wide" || h == "free";
}

Decoder* OpenAvDecoder(const char* path, const char* demuxer, AvAcceptFn accept) {
    const AVInputFormat* format = av_find_input_format(demuxer);
    if (!format)
        return nullptr;
    auto decoder = std::make_unique<AvDecoder>();
    return decoder->Open(path, format, accept) ? decoder.release() : nullptr;
}

}  // namespace kestrune::bass
