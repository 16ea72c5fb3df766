#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "platform/wmvcore/wm_ffmpeg.h"

namespace kestrune::wm {

namespace {

// Where the demuxer keeps each attribute: the common key first, then the stored name.
struct AttributeKeys {
    const char* name;
    const char* keys[3];
};
constexpr AttributeKeys kAttributeKeys[] = {
    {"Title", {"title", nullptr, nullptr}},
    {"Author", {"artist", "author", nullptr}},
    {"Description", {"comment", "description", nullptr}},
    {"Copyright", {"copyright", nullptr, nullptr}},
    {"WM/AlbumTitle", {"album", "WM/AlbumTitle", nullptr}},
    {"WM/AlbumArtist", {"album_artist", "WM/AlbumArtist", nullptr}},
    {"WM/Genre", {"genre", "WM/Genre", nullptr}},
    {"WM/Composer", {"composer", "WM/Composer", nullptr}},
    {"WM/TrackNumber", {"track", "WM/TrackNumber", nullptr}},
    {"WM/Year", {"WM/Year", "date", "year"}},
};

WmMajorType TypeOf(const AVCodecParameters& p) {
    switch (p.codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            return WmMajorType::Audio;
        case AVMEDIA_TYPE_VIDEO:
            return WmMajorType::Video;
        default:
            return WmMajorType::Other;
    }
}

int16_t ToS16(float v) {
    const float scaled = std::nearbyint(v * 32768.0f);
    return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

// One sample of any decoder format, as 16 bits.
int16_t SampleAt(const AVFrame& f, AVSampleFormat format, int channel, int index, int channels) {
    const bool planar = av_sample_fmt_is_planar(format);
    const uint8_t* base = f.extended_data[planar ? channel : 0];
    const int i = planar ? index : index * channels + channel;
    switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            return static_cast<int16_t>((base[i] - 128) << 8);
        case AV_SAMPLE_FMT_S16:
            return reinterpret_cast<const int16_t*>(base)[i];
        case AV_SAMPLE_FMT_S32:
            return static_cast<int16_t>(reinterpret_cast<const int32_t*>(base)[i] >> 16);
        case AV_SAMPLE_FMT_S64:
            return static_cast<int16_t>(reinterpret_cast<const int64_t*>(base)[i] >> 48);
        case AV_SAMPLE_FMT_FLT:
            return ToS16(reinterpret_cast<const float*>(base)[i]);
        case AV_SAMPLE_FMT_DBL:
            return ToS16(static_cast<float>(reinterpret_cast<const double*>(base)[i]));
        default:
            return 0;
    }
}

class SyncReader final : public WmSyncReader {
public:
    WmResult Open(const std::string& path) override {
        Close();
        // Only ASF files: what else carries the extension is for other readers to take.
        const AVInputFormat* asf = av_find_input_format("asf");
        AVFormatContext* raw = nullptr;
        if (!asf || avformat_open_input(&raw, path.c_str(), asf, nullptr) < 0)
            return WmResult::Fail;
        input.reset(raw);
        if (avformat_find_stream_info(input.get(), nullptr) < 0) {
            input.reset();
            return WmResult::Fail;
        }
        selected.assign(input->nb_streams, true);
        packet.reset(av_packet_alloc());
        frame.reset(av_frame_alloc());
        if (!packet || !frame) {
            Close();
            return WmResult::Fail;
        }
        return WmResult::Ok;
    }

    WmResult Close() override {
        decoder.reset();
        input.reset();
        packet.reset();
        frame.reset();
        selected.clear();
        decodedStream = -1;
        draining = false;
        samplesOut = 0;
        return WmResult::Ok;
    }

    WmResult GetProfile(WmProfile& profile) override {
        if (!input)
            return WmResult::WrongState;
        profile = WmProfile{};
        for (unsigned i = 0; i < input->nb_streams; ++i) {
            const AVCodecParameters& p = *input->streams[i]->codecpar;
            WmStreamConfig config;
            config.streamType = TypeOf(p);
            config.streamNumber = static_cast<uint16_t>(i + 1);
            config.bitrate = static_cast<uint32_t>(std::max<int64_t>(p.bit_rate, 0));
            config.mediaType.majorType = config.streamType;
            config.mediaType.subtype = static_cast<uint16_t>(p.codec_tag);
            if (p.codec_type == AVMEDIA_TYPE_AUDIO) {
                WaveFormatEx& wave = config.mediaType.waveFormat;
                wave.formatTag = static_cast<uint16_t>(p.codec_tag);
                wave.channels = static_cast<uint16_t>(p.ch_layout.nb_channels);
                wave.samplesPerSec = static_cast<uint32_t>(p.sample_rate);
                wave.avgBytesPerSec = config.bitrate / 8;
                wave.blockAlign = static_cast<uint16_t>(p.block_align);
                wave.bitsPerSample = static_cast<uint16_t>(p.bits_per_coded_sample);
                if (p.extradata && p.extradata_size > 0)
                    wave.extra.assign(p.extradata, p.extradata + p.extradata_size);
            }
            profile.streams.push_back(std::move(config));
        }
        return WmResult::Ok;
    }

    WmResult SetStreamsSelected(uint16_t stream, bool on) override {
        if (!input)
            return WmResult::WrongState;
        if (stream == 0 || stream > selected.size())
            return WmResult::NotFound;
        selected[stream - 1] = on;
        return WmResult::Ok;
    }

    WmResult SetReadStreamSamples(uint16_t stream, bool compressed) override {
        if (!input)
            return WmResult::WrongState;
        if (stream == 0 || stream > selected.size())
            return WmResult::NotFound;
        if (compressed)
            return WmResult::InvalidArgument;  // only decoded samples are offered
        return OpenDecoder(stream - 1);
    }

    WmResult GetNextSample(uint16_t stream, WmBuffer& sample, uint64_t& time,
                           uint64_t& duration) override {
        if (!input)
            return WmResult::WrongState;
        if (stream == 0 || stream > selected.size() || !selected[stream - 1])
            return WmResult::NotFound;
        const int index = stream - 1;
        if (decodedStream != index) {
            const WmResult opened = OpenDecoder(index);
            if (opened != WmResult::Ok)
                return opened;
        }
        for (;;) {
            const int r = avcodec_receive_frame(decoder.get(), frame.get());
            if (r == 0) {
                Deliver(sample, time, duration);
                av_frame_unref(frame.get());
                return WmResult::Ok;
            }
            if (r == AVERROR_EOF)
                return WmResult::NoMoreSamples;
            if (r != AVERROR(EAGAIN))
                return WmResult::Fail;
            if (draining)
                return WmResult::NoMoreSamples;
            if (av_read_frame(input.get(), packet.get()) < 0) {
                draining = true;
                if (avcodec_send_packet(decoder.get(), nullptr) < 0)
                    return WmResult::NoMoreSamples;
                continue;
            }
            if (packet->stream_index == index) {
                // A damaged packet is skipped; the stream goes on with the next one.
                avcodec_send_packet(decoder.get(), packet.get());
            }
            av_packet_unref(packet.get());
        }
    }

    uint32_t GetOutputCount() override { return input ? input->nb_streams : 0; }

    WmResult GetOutputProps(uint32_t output, WmMediaType& type) override {
        if (!input)
            return WmResult::WrongState;
        if (output >= input->nb_streams)
            return WmResult::NotFound;
        const AVCodecParameters& p = *input->streams[output]->codecpar;
        if (p.codec_type != AVMEDIA_TYPE_AUDIO) {
            type = WmMediaType{};
            type.majorType = TypeOf(p);
            return WmResult::Ok;
        }
        type = PcmType(p.sample_rate, p.ch_layout.nb_channels);
        return WmResult::Ok;
    }

    WmResult GetAttributeByName(uint16_t stream, const std::string& name,
                                WmAttribute& value) override {
        if (!input)
            return WmResult::WrongState;
        if (stream != 0)
            return WmResult::NotFound;
        if (name == "Duration") {
            if (input->duration == AV_NOPTS_VALUE || input->duration <= 0)
                return WmResult::NotFound;
            value = WmAttribute{};
            value.type = WmAttrType::QWord;
            value.number = static_cast<uint64_t>(input->duration) * 10;  // microseconds
            return WmResult::Ok;
        }
        if (name == "Bitrate") {
            // The streams' own rates; the container's estimate counts headers and padding.
            int64_t total = 0;
            for (unsigned i = 0; i < input->nb_streams; ++i)
                total += std::max<int64_t>(input->streams[i]->codecpar->bit_rate, 0);
            if (total <= 0)
                total = input->bit_rate;
            if (total <= 0)
                return WmResult::NotFound;
            value = WmAttribute::DWord(static_cast<uint32_t>(total));
            return WmResult::Ok;
        }
        const AttributeKeys* known = nullptr;
        for (const AttributeKeys& k : kAttributeKeys)
            if (name == k.name)
                known = &k;
        const char* const fallback[3] = {name.c_str(), nullptr, nullptr};
        for (const char* key : known ? known->keys : fallback) {
            if (!key)
                break;
            if (const AVDictionaryEntry* e = av_dict_get(input->metadata, key, nullptr, 0)) {
                value = WmAttribute::String(e->value);
                return WmResult::Ok;
            }
        }
        return WmResult::NotFound;
    }

private:
    WmResult OpenDecoder(int index) {
        if (decodedStream == index && decoder)
            return WmResult::Ok;
        const AVCodecParameters* p = input->streams[index]->codecpar;
        if (p->codec_type != AVMEDIA_TYPE_AUDIO)
            return WmResult::InvalidArgument;
        const AVCodec* codec = avcodec_find_decoder(p->codec_id);
        if (!codec)
            return WmResult::Fail;
        CodecContextPtr context(avcodec_alloc_context3(codec));
        if (!context || avcodec_parameters_to_context(context.get(), p) < 0 ||
            avcodec_open2(context.get(), codec, nullptr) < 0)
            return WmResult::Fail;
        decoder = std::move(context);
        decodedStream = index;
        draining = false;
        return WmResult::Ok;
    }

    // The frame as interleaved 16-bit PCM of the stream's channel count.
    void Deliver(WmBuffer& sample, uint64_t& time, uint64_t& duration) {
        const AVStream* st = input->streams[decodedStream];
        const int channels = st->codecpar->ch_layout.nb_channels;
        const int frameChannels = frame->ch_layout.nb_channels;
        const int n = frame->nb_samples;
        const auto format = static_cast<AVSampleFormat>(frame->format);
        sample.data.resize(static_cast<size_t>(n) * channels * 2);
        sample.length = static_cast<uint32_t>(sample.data.size());
        auto* out = reinterpret_cast<int16_t*>(sample.data.data());
        for (int i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c)
                out[i * channels + c] =
                    c < frameChannels ? SampleAt(*frame, format, c, i, frameChannels) : 0;
        const int rate = frame->sample_rate > 0 ? frame->sample_rate : st->codecpar->sample_rate;
        int64_t ts = frame->best_effort_timestamp;
        if (ts != AV_NOPTS_VALUE) {
            if (st->start_time != AV_NOPTS_VALUE)
                ts -= st->start_time;
            time = static_cast<uint64_t>(
                std::max<int64_t>(av_rescale_q(ts, st->time_base, AVRational{1, 10000000}), 0));
        } else {
            time = rate > 0 ? static_cast<uint64_t>(samplesOut * 10000000 / rate) : 0;
        }
        duration = rate > 0 ? static_cast<uint64_t>(n) * 10000000 / static_cast<uint64_t>(rate) : 0;
        samplesOut += n;
    }

    InputFormatPtr input;
    CodecContextPtr decoder;
    PacketPtr packet;
    FramePtr frame;
    std::vector<bool> selected;
    int decodedStream = -1;
    bool draining = false;
    int64_t samplesOut = 0;
};

}  // namespace

}  // namespace kestrune::wm

extern "C" kestrune::wm::WmResult WMCreateSyncReader(kestrune::wm::WmSyncReader** reader) {
    if (!reader)
        return kestrune::wm::WmResult::InvalidArgument;
    *reader = std::make_unique<kestrune::wm::SyncReader>().release();
    return kestrune::wm::WmResult::Ok;
}
