#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/wmvcore/wm_ffmpeg.h"

namespace kestrune::wm {

namespace {

// Attribute names and the container keys that carry them; the muxer turns the common keys
// back into the attribute names it stores.
const char* MetadataKey(const std::string& name) {
    static constexpr std::pair<const char*, const char*> kKeys[] = {
        {"Title", "title"},         {"Author", "artist"},        {"Description", "comment"},
        {"Copyright", "copyright"}, {"WM/AlbumTitle", "album"},  {"WM/AlbumArtist", "album_artist"},
        {"WM/Genre", "genre"},      {"WM/Composer", "composer"}, {"WM/TrackNumber", "track"},
    };
    for (const auto& [attribute, key] : kKeys)
        if (name == attribute)
            return key;
    return nullptr;
}

class Writer final : public WmWriter {
public:
    ~Writer() override { Abandon(); }

    WmResult SetProfile(const WmProfile& p) override {
        if (began)
            return WmResult::WrongState;
        // One audio stream: the only kind of file this layer writes.
        if (p.streams.size() != 1 || p.streams[0].streamType != WmMajorType::Audio)
            return WmResult::InvalidArgument;
        const WmStreamConfig& stream = p.streams[0];
        const WaveFormatEx& wave = stream.mediaType.waveFormat;
        if (EncoderForFormatTag(stream.mediaType.subtype) == AV_CODEC_ID_NONE ||
            wave.channels < 1 || wave.channels > 2 || wave.samplesPerSec == 0 ||
            stream.bitrate == 0)
            return WmResult::InvalidArgument;
        profile = p;
        inputType = PcmType(static_cast<int>(wave.samplesPerSec), wave.channels);
        return WmResult::Ok;
    }

    uint32_t GetInputCount() override { return static_cast<uint32_t>(profile.streams.size()); }

    WmResult GetInputProps(uint32_t input, WmMediaType& type) override {
        if (input >= profile.streams.size())
            return WmResult::NotFound;
        type = inputType;
        return WmResult::Ok;
    }

    WmResult SetInputProps(uint32_t input, const WmMediaType& type) override {
        if (began)
            return WmResult::WrongState;
        if (input >= profile.streams.size())
            return WmResult::NotFound;
        const WaveFormatEx& wave = type.waveFormat;
        if (type.majorType != WmMajorType::Audio || type.subtype != kFormatTagPcm ||
            wave.formatTag != kFormatTagPcm || wave.bitsPerSample != 16 || wave.channels < 1 ||
            wave.channels > 2 || wave.samplesPerSec < 1000 || wave.samplesPerSec > 768000 ||
            wave.blockAlign != 2 * wave.channels)
            return WmResult::InvalidArgument;
        inputType = type;
        return WmResult::Ok;
    }

    WmResult AddAttribute(uint16_t stream, const std::string& name,
                          const WmAttribute& value) override {
        if (began)
            return WmResult::WrongState;
        if (stream != 0)
            return WmResult::NotFound;
        if (name.empty())
            return WmResult::InvalidArgument;
        attributes.emplace_back(name, value);
        return WmResult::Ok;
    }

    WmResult SetOutputFilename(const std::string& p) override {
        if (began)
            return WmResult::WrongState;
        path = p;
        return WmResult::Ok;
    }

    WmResult BeginWriting() override {
        if (began || profile.streams.empty() || path.empty())
            return WmResult::WrongState;
        const WmResult result = Begin();
        if (result != WmResult::Ok)
            Abandon();
        return result;
    }

    WmResult AllocateSample(uint32_t size, WmBuffer& sample) override {
        sample.data.resize(size);
        sample.length = 0;
        return WmResult::Ok;
    }

    WmResult WriteSample(uint32_t input, uint64_t time, uint32_t flags,
                         const WmBuffer& sample) override {
        (void)time, (void)flags;
        if (!began)
            return WmResult::WrongState;
        if (input != 0)
            return WmResult::NotFound;
        const int inChannels = inputType.waveFormat.channels;
        if (sample.length > sample.data.size() || sample.length % (2 * inChannels) != 0)
            return WmResult::InvalidArgument;
        const size_t frames = sample.length / (2 * inChannels);
        if (frames == 0)
            return WmResult::Ok;
        // Route the channels first, so the resampler works on the output's channel count.
        const int outChannels = encoder->ch_layout.nb_channels;
        routed.resize(frames * outChannels);
        const auto* pcm = reinterpret_cast<const int16_t*>(sample.data.data());
        for (size_t f = 0; f < frames; ++f) {
            for (int c = 0; c < outChannels; ++c) {
                float v;
                if (inChannels == outChannels)
                    v = pcm[f * inChannels + c];
                else if (inChannels == 1)
                    v = pcm[f];
                else
                    v = (static_cast<float>(pcm[f * 2]) + pcm[f * 2 + 1]) * 0.5f;
                routed[f * outChannels + c] = v / 32768.0f;
            }
        }
        return Push(routed.data(), frames) ? WmResult::Ok : WmResult::Fail;
    }

    WmResult EndWriting() override {
        if (!began)
            return WmResult::WrongState;
        bool ok = true;
        if (resampler) {
            // Drain what the resampler still holds.
            const int channels = encoder->ch_layout.nb_channels;
            std::vector<float> out(4096 * channels);
            for (;;) {
                size_t produced = 0;
                if (soxr_process(resampler.get(), nullptr, 0, nullptr, out.data(), 4096,
                                 &produced) != nullptr) {
                    ok = false;
                    break;
                }
                if (produced == 0)
                    break;
                Queue(out.data(), produced);
            }
        }
        ok = ok && EncodeQueued(true);
        // The decoder hands out each frame one frame late (the first gives nothing): a frame
        // of silence after the last one brings out the end of the sound.
        if (ok && nextPts > 0) {
            for (std::vector<float>& q : queued)
                q.assign(static_cast<size_t>(encoder->frame_size), 0.0f);
            ok = EncodeQueued(true);
        }
        ok = ok && Send(nullptr);
        ok = ok && av_write_trailer(output.get()) >= 0;
        if (output->pb)
            ok = avio_closep(&output->pb) >= 0 && ok;
        Abandon();
        return ok ? WmResult::Ok : WmResult::Fail;
    }

private:
    WmResult Begin() {
        const WmStreamConfig& stream = profile.streams[0];
        const WaveFormatEx& wave = stream.mediaType.waveFormat;
        encoder = OpenWmaEncoder(EncoderForFormatTag(stream.mediaType.subtype),
                                 static_cast<int>(wave.samplesPerSec),
                                 static_cast<int>(stream.bitrate), wave.channels);
        if (!encoder)
            return WmResult::InvalidArgument;

        AVFormatContext* raw = nullptr;
        if (avformat_alloc_output_context2(&raw, nullptr, "asf", path.c_str()) < 0 || !raw)
            return WmResult::Fail;
        output.reset(raw);
        AVStream* st = avformat_new_stream(output.get(), nullptr);
        if (!st || avcodec_parameters_from_context(st->codecpar, encoder.get()) < 0)
            return WmResult::Fail;
        st->time_base = encoder->time_base;
        st->id = stream.streamNumber;
        for (const auto& [name, value] : attributes) {
            const char* key = MetadataKey(name);
            std::string text = value.text;
            if (value.type != WmAttrType::String && value.type != WmAttrType::Binary &&
                value.type != WmAttrType::Guid)
                text = std::to_string(value.number);
            if (text.empty())
                continue;
            av_dict_set(&output->metadata, key ? key : name.c_str(), text.c_str(), 0);
        }
        if (avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE) < 0)
            return WmResult::Fail;
        if (avformat_write_header(output.get(), nullptr) < 0)
            return WmResult::Fail;

        const int inRate = static_cast<int>(inputType.waveFormat.samplesPerSec);
        if (inRate != encoder->sample_rate) {
            const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
            const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
            soxr_error_t error = nullptr;
            resampler.reset(soxr_create(inRate, encoder->sample_rate,
                                        static_cast<unsigned>(encoder->ch_layout.nb_channels),
                                        &error, &io, &quality, nullptr));
            if (!resampler || error)
                return WmResult::Fail;
        }
        frame.reset(av_frame_alloc());
        packet.reset(av_packet_alloc());
        if (!frame || !packet)
            return WmResult::Fail;
        frame->format = encoder->sample_fmt;
        frame->sample_rate = encoder->sample_rate;
        frame->nb_samples = encoder->frame_size;
        if (av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0 ||
            av_frame_get_buffer(frame.get(), 0) < 0)
            return WmResult::Fail;
        queued.assign(static_cast<size_t>(encoder->ch_layout.nb_channels), {});
        nextPts = 0;
        began = true;
        return WmResult::Ok;
    }

    bool Push(const float* interleaved, size_t frames) {
        if (!resampler) {
            Queue(interleaved, frames);
            return EncodeQueued(false);
        }
        const int channels = encoder->ch_layout.nb_channels;
        const double ratio =
            static_cast<double>(encoder->sample_rate) / inputType.waveFormat.samplesPerSec;
        const size_t capacity = static_cast<size_t>(frames * ratio) + 256;
        resampled.resize(capacity * channels);
        size_t consumed = 0;
        while (consumed < frames) {
            size_t used = 0, produced = 0;
            if (soxr_process(resampler.get(), interleaved + consumed * channels, frames - consumed,
                             &used, resampled.data(), capacity, &produced) != nullptr)
                return false;
            consumed += used;
            Queue(resampled.data(), produced);
            if (used == 0 && produced == 0)
                break;
        }
        return EncodeQueued(false);
    }

    void Queue(const float* interleaved, size_t frames) {
        const size_t channels = queued.size();
        for (size_t c = 0; c < channels; ++c) {
            std::vector<float>& q = queued[c];
            const size_t at = q.size();
            q.resize(at + frames);
            for (size_t f = 0; f < frames; ++f)
                q[at + f] = interleaved[f * channels + c];
        }
    }

    // Encodes every whole frame queued; at the end a last part frame is padded with silence.
    bool EncodeQueued(bool last) {
        const size_t size = static_cast<size_t>(encoder->frame_size);
        size_t at = 0;
        const size_t available = queued[0].size();
        while (available - at >= size || (last && available > at)) {
            if (av_frame_make_writable(frame.get()) < 0)
                return false;
            const size_t n = std::min(size, available - at);
            for (size_t c = 0; c < queued.size(); ++c) {
                auto* dst = reinterpret_cast<float*>(frame->extended_data[c]);
                std::copy_n(queued[c].data() + at, n, dst);
                std::fill(dst + n, dst + size, 0.0f);
            }
            frame->pts = nextPts;
            nextPts += static_cast<int64_t>(size);
            at += n;
            if (!Send(frame.get()))
                return false;
        }
        for (std::vector<float>& q : queued)
            q.erase(q.begin(), q.begin() + at);
        return true;
    }

    bool Send(const AVFrame* f) {
        if (avcodec_send_frame(encoder.get(), f) < 0)
            return false;
        for (;;) {
            const int r = avcodec_receive_packet(encoder.get(), packet.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return true;
            if (r < 0)
                return false;
            AVStream* st = output->streams[0];
            av_packet_rescale_ts(packet.get(), encoder->time_base, st->time_base);
            packet->stream_index = 0;
            if (av_interleaved_write_frame(output.get(), packet.get()) < 0)
                return false;
        }
    }

    // Releases every codec and file handle; the writer can be configured anew.
    void Abandon() {
        resampler.reset();
        output.reset();
        encoder.reset();
        frame.reset();
        packet.reset();
        queued.clear();
        began = false;
    }

    WmProfile profile;
    WmMediaType inputType;
    std::vector<std::pair<std::string, WmAttribute>> attributes;
    std::string path;
    bool began = false;

    CodecContextPtr encoder;
    OutputFormatPtr output;
    SoxrPtr resampler;
    FramePtr frame;
    PacketPtr packet;
    std::vector<std::vector<float>> queued;  // planar, at the encoder's rate
    std::vector<float> routed, resampled;
    int64_t nextPts = 0;
};

}  // namespace

}  // namespace kestrune::wm

extern "C" kestrune::wm::WmResult WMCreateWriter(kestrune::wm::WmWriter** writer) {
    if (!writer)
        return kestrune::wm::WmResult::InvalidArgument;
    *writer = std::make_unique<kestrune::wm::Writer>().release();
    return kestrune::wm::WmResult::Ok;
}
