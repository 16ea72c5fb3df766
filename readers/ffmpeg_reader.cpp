#include "readers/ffmpeg_reader.h"

#include "audio/utf8_text.h"

#include <algorithm>
#include <climits>
#include <limits>
#include <string_view>
#include <type_traits>

#include "audio/downmix.h"
#include "audio/tag_set.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
}

namespace kestrune {

void InitFFmpegLogging() {
    av_log_set_level(AV_LOG_QUIET);
    av_max_alloc(kFFmpegMostPerAllocation);
}

namespace {

// A decoder that produces nothing but errors (or nothing at all) for this many packets in a
// row is not going to recover; the stream ends there instead of spinning through the file.
constexpr int kMaxFruitlessPackets = 4096;

inline int16_t FloatTo16(double x) {
    const double v = x * 32768.0;
    if (v >= 32767.0)
        return 32767;
    if (v <= -32768.0)
        return -32768;
    if (v != v)
        return 0;                    // NaN from a broken stream
    return static_cast<int16_t>(v);  // truncates toward zero
}

inline int16_t To16(uint8_t v) {
    return static_cast<int16_t>((static_cast<int>(v) - 128) * 256);
}
inline int16_t To16(int16_t v) {
    return v;
}
inline int16_t To16(int32_t v) {
    return static_cast<int16_t>(v >> 16);
}
inline int16_t To16(int64_t v) {
    return static_cast<int16_t>(v >> 48);
}
inline int16_t To16(float v) {
    return FloatTo16(v);
}
inline int16_t To16(double v) {
    return FloatTo16(v);
}

// A decoded sample as the wide blocks hold it: integers with full scale at 2^31, floats at 1.0.
template <typename Out, typename T>
inline Out ToWide(T v) {
    if constexpr (std::is_same_v<Out, float>) {
        if constexpr (std::is_floating_point_v<T>)
            return static_cast<float>(v);
        else
            return static_cast<float>(static_cast<double>(ToWide<int32_t>(v)) *
                                      (1.0 / 2147483648.0));
    } else if constexpr (std::is_same_v<T, uint8_t>) {
        return static_cast<int32_t>((static_cast<int>(v) - 128) * 16777216);
    } else if constexpr (std::is_same_v<T, int16_t>) {
        return static_cast<int32_t>(v) * 65536;
    } else if constexpr (std::is_same_v<T, int32_t>) {
        return v;
    } else if constexpr (std::is_same_v<T, int64_t>) {
        return static_cast<int32_t>(v >> 32);
    } else {
        const double x = static_cast<double>(v) * 2147483648.0;
        return x != x ? 0 : static_cast<int32_t>(std::clamp(x, -2147483648.0, 2147483647.0));
    }
}

template <typename Out, typename T>
inline Out To(T v) {
    if constexpr (std::is_same_v<Out, int16_t>)
        return To16(v);
    else
        return ToWide<Out>(v);
}

// Same single-precision factor as DownmixFrame, so both mixes agree to the sample.
inline int32_t Centre(int32_t x) {
    return static_cast<int32_t>(static_cast<float>(x) * 0.707f);
}
inline int64_t Centre(int64_t x) {
    return static_cast<int64_t>(static_cast<double>(x) * 0.707);
}
inline float Centre(float x) {
    return x * 0.707f;
}

// The sum the six-channel mix works in, and back to a sample (floats are not clipped).
template <typename Out>
using MixSum =
    std::conditional_t<std::is_same_v<Out, float>, float,
                       std::conditional_t<std::is_same_v<Out, int16_t>, int32_t, int64_t>>;
template <typename Out>
inline Out Clip(MixSum<Out> v) {
    if constexpr (std::is_same_v<Out, float>)
        return v;
    else
        return static_cast<Out>(std::clamp<MixSum<Out>>(v, std::numeric_limits<Out>::min(),
                                                        std::numeric_limits<Out>::max()));
}

template <typename T, bool Planar, typename Out>
int ConvertTyped(const AVFrame& frame, int first, int count, int frameChannels,
                 const SixChannelMap& six, Out* left, Out* right) {
    const auto at = [&](int i, int c) -> Out {
        if constexpr (Planar)
            return To<Out>(reinterpret_cast<const T*>(frame.extended_data[c])[i]);
        else
            return To<Out>(reinterpret_cast<const T*>(
                frame.extended_data[0])[static_cast<size_t>(i) * frameChannels + c]);
    };
    if (frameChannels == 1) {
        for (int k = 0; k < count; ++k) {
            const Out v = at(first + k, 0);
            left[k] = v;
            if (right)
                right[k] = v;
        }
    } else if (frameChannels == 2) {
        for (int k = 0; k < count; ++k) {
            left[k] = at(first + k, 0);
            if (right)
                right[k] = at(first + k, 1);
        }
    } else if (frameChannels == 6) {
        for (int k = 0; k < count; ++k) {
            MixSum<Out> s[6];
            for (int c = 0; c < 6; ++c)
                s[c] = at(first + k, six[c]);
            const MixSum<Out> m = Centre(s[2] + s[3]);
            left[k] = Clip<Out>(m + s[0] + s[4]);
            if (right)
                right[k] = Clip<Out>(m + s[1] + s[5]);
        }
    } else {
        const int used = std::min(frameChannels, 8);
        for (int k = 0; k < count; ++k) {
            Out s[8];
            for (int c = 0; c < used; ++c)
                s[c] = at(first + k, c);
            Out l, r;
            DownmixFrame(frameChannels, s, l, r);
            left[k] = l;
            if (right)
                right[k] = r;
        }
    }
    return count;
}

template <typename T, typename Out>
int ConvertAny(const AVFrame& frame, bool planar, int first, int count, int frameChannels,
               const SixChannelMap& six, Out* left, Out* right) {
    return planar ? ConvertTyped<T, true>(frame, first, count, frameChannels, six, left, right)
                  : ConvertTyped<T, false>(frame, first, count, frameChannels, six, left, right);
}

int SecondsOf(const AVFormatContext& fc) {
    if (fc.duration == AV_NOPTS_VALUE || fc.duration <= 0)
        return 0;
    return static_cast<int>(std::min<int64_t>(fc.duration / AV_TIME_BASE, INT_MAX));
}

// kbit/s of the stream; containers that keep the rate only for the whole file give that.
int KbitRateOf(int64_t streamRate, const AVFormatContext& fc) {
    const int64_t rate = streamRate > 0 ? streamRate : std::max<int64_t>(fc.bit_rate, 0);
    return static_cast<int>(std::min<int64_t>(rate / 1000, INT_MAX));
}

bool OpenContainer(const std::string& path, FormatContextPtr& out) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return false;  // freed
    out.reset(raw);
    if (avformat_find_stream_info(raw, nullptr) < 0) {
        out.reset();
        return false;
    }
    return true;
}

const char* TagValue(const AVDictionary* tags, const char* key) {
    const AVDictionaryEntry* e = av_dict_get(tags, key, nullptr, 0);
    return e && e->value && e->value[0] ? e->value : nullptr;
}

}  // namespace

SixChannelMap ChooseSixChannelMap(const AVFrame& frame, int codecId) {
    const AVChannelLayout& layout = frame.ch_layout;
    if (layout.order == AV_CHANNEL_ORDER_NATIVE || layout.order == AV_CHANNEL_ORDER_CUSTOM) {
        // Decoders deliver channels in the layout's order; find the speakers there.
        const auto index = [&](AVChannel c) {
            return av_channel_layout_index_from_channel(&layout, c);
        };
        const auto surround = [&](AVChannel back, AVChannel side) {
            const int i = index(back);
            return i >= 0 ? i : index(side);
        };
        const SixChannelMap found = {
            index(AV_CHAN_FRONT_LEFT),
            index(AV_CHAN_FRONT_RIGHT),
            index(AV_CHAN_FRONT_CENTER),
            index(AV_CHAN_LOW_FREQUENCY),
            surround(AV_CHAN_BACK_LEFT, AV_CHAN_SIDE_LEFT),
            surround(AV_CHAN_BACK_RIGHT, AV_CHAN_SIDE_RIGHT),
        };
        if (std::all_of(found.begin(), found.end(), [](int i) { return i >= 0 && i < 6; }))
            return found;
        return kStandardSixOrder;
    }
    if (codecId == AV_CODEC_ID_AAC)
        return kAacSixOrder;
    if (codecId == AV_CODEC_ID_MP3ON4)
        return kMp3On4SixOrder;
    return kStandardSixOrder;
}

namespace {

template <typename Out>
int ConvertFramesTo(const AVFrame& frame, int first, int count, const SixChannelMap& six, Out* left,
                    Out* right) {
    const int frameChannels = frame.ch_layout.nb_channels;
    if (count <= 0 || first < 0 || first + count > frame.nb_samples || frameChannels < 1 ||
        !frame.extended_data || !left)
        return 0;
    const auto format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_U8:
            return ConvertAny<uint8_t>(frame, planar, first, count, frameChannels, six, left,
                                       right);
        case AV_SAMPLE_FMT_S16:
            return ConvertAny<int16_t>(frame, planar, first, count, frameChannels, six, left,
                                       right);
        case AV_SAMPLE_FMT_S32:
            return ConvertAny<int32_t>(frame, planar, first, count, frameChannels, six, left,
                                       right);
        case AV_SAMPLE_FMT_S64:
            return ConvertAny<int64_t>(frame, planar, first, count, frameChannels, six, left,
                                       right);
        case AV_SAMPLE_FMT_FLT:
            return ConvertAny<float>(frame, planar, first, count, frameChannels, six, left, right);
        case AV_SAMPLE_FMT_DBL:
            return ConvertAny<double>(frame, planar, first, count, frameChannels, six, left, right);
        default:
            return 0;
    }
}

// The width of a lossless stream's samples; none for a lossy codec, whose decoder's format says
// nothing of the source.
SampleDepth LosslessDepth(const AVCodecParameters& par, AVSampleFormat decoded) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(par.codec_id);
    if (!d || !(d->props & AV_CODEC_PROP_LOSSLESS) || (d->props & AV_CODEC_PROP_LOSSY))
        return {};
    switch (av_get_packed_sample_fmt(decoded)) {
        case AV_SAMPLE_FMT_FLT:
            return {32, true};
        case AV_SAMPLE_FMT_DBL:
            return {64, true};
        case AV_SAMPLE_FMT_NONE:
            return {};
        default:
            break;
    }
    const int most = av_get_bytes_per_sample(decoded) * 8;
    int bits = par.bits_per_raw_sample > 0 ? par.bits_per_raw_sample : par.bits_per_coded_sample;
    if (bits <= 0 || bits > most)
        bits = most;
    return {bits, false};
}

}  // namespace

int ConvertFrames(const AVFrame& frame, int first, int count, const SixChannelMap& six,
                  int16_t* left, int16_t* right) {
    return ConvertFramesTo(frame, first, count, six, left, right);
}

// ---------------------------------------------------------------------------------------------

FFmpegReader::FFmpegReader() = default;

FFmpegReader::~FFmpegReader() {
    Release();
}

void FFmpegReader::Release() {
    frame.reset();
    packet.reset();
    codecContext.reset();
    formatContext.reset();
    streamIndex = -1;
    codecId = 0;
    inputEnded = false;
    decoderDrained = false;
    started = false;
    cursor = 0;
    end = 0;
    six = kStandardSixOrder;
}

void FFmpegReader::Close() {
    Release();
    Reset();
}

int FFmpegReader::HasAudioStream() {
    return audioFound ? 1 : 0;
}

int FFmpegReader::Open(const std::string& path, int /*preferredRate*/) {
    Close();
    audioFound = true;
    if (!OpenContainer(path, formatContext))
        return 0;

    // The first audio stream that can be decoded; an audio stream of a known codec that this
    // build cannot decode still means the file has audio.
    AVFormatContext* fc = formatContext.get();
    const AVCodec* codec = nullptr;
    bool knownAudio = false;
    for (unsigned i = 0; i < fc->nb_streams; ++i) {
        const AVCodecParameters* par = fc->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO || par->codec_id == AV_CODEC_ID_NONE)
            continue;
        knownAudio = true;
        codec = avcodec_find_decoder(par->codec_id);
        if (codec) {
            streamIndex = static_cast<int>(i);
            break;
        }
    }
    if (!codec) {
        audioFound = knownAudio;
        Release();
        return 0;
    }

    AVStream* stream = fc->streams[streamIndex];
    codecContext.reset(avcodec_alloc_context3(codec));
    packet.reset(av_packet_alloc());
    frame.reset(av_frame_alloc());
    if (!codecContext || !packet || !frame ||
        avcodec_parameters_to_context(codecContext.get(), stream->codecpar) < 0) {
        Release();
        return 0;
    }
    codecContext->pkt_timebase = stream->time_base;
    if (avcodec_open2(codecContext.get(), codec, nullptr) < 0) {
        Release();
        return 0;
    }
    // Let the demuxer skip the packets of every other stream.
    for (unsigned i = 0; i < fc->nb_streams; ++i)
        if (static_cast<int>(i) != streamIndex)
            fc->streams[i]->discard = AVDISCARD_ALL;

    const AVCodecContext* cc = codecContext.get();
    length = fc->pb ? std::max<int64_t>(avio_size(fc->pb), 0) : 0;
    sampleRate = cc->sample_rate;
    duration = SecondsOf(*fc);
    bitRate = KbitRateOf(cc->bit_rate, *fc);
    sourceChannels = cc->ch_layout.nb_channels;
    channels = sourceChannels < 2 ? 1 : 2;
    bitsPerSample = 16;
    bytesPerSample = 2;
    sourceDepth = LosslessDepth(*stream->codecpar, cc->sample_fmt);
    codecId = cc->codec_id;
    openPath = path;
    UpdatePosition();
    return 1;
}

bool FFmpegReader::SeekFrame(int64_t target) {
    if (!codecContext || started || target <= 0 || sampleRate <= 0)
        return false;
    const AVCodecDescriptor* descriptor = avcodec_descriptor_get(codecContext->codec_id);
    if (!descriptor || !(descriptor->props & AV_CODEC_PROP_LOSSLESS) ||
        (descriptor->props & AV_CODEC_PROP_LOSSY))
        return false;
    started = true;
    AVStream* stream = formatContext->streams[streamIndex];
    const int64_t origin = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    const AVRational perSample{1, sampleRate};
    if (av_seek_frame(formatContext.get(), streamIndex,
                      origin + av_rescale_q(target, perSample, stream->time_base),
                      AVSEEK_FLAG_BACKWARD) >= 0) {
        avcodec_flush_buffers(codecContext.get());
        inputEnded = decoderDrained = false;
        // Decoded frames before the target are dropped; the one holding it is cut there.
        while (NextFrame()) {
            const int64_t pts = frame->best_effort_timestamp;
            if (pts == AV_NOPTS_VALUE)
                break;
            const int64_t at = av_rescale_q(pts - origin, stream->time_base, perSample);
            if (at > target)
                break;  // the demuxer landed after the target: not exact
            if (at + frame->nb_samples > target) {
                cursor = static_cast<int>(target - at);
                UpdatePosition();
                return true;
            }
        }
    }
    // Anything else: the file is opened again and read from its start.
    const std::string again = openPath;
    Open(again, 0);
    return false;
}

SampleFormat FFmpegReader::GetWideFormat() {
    return codecContext ? WideFormatFor(sourceDepth) : SampleFormat::kS16;
}

void FFmpegReader::UpdatePosition() {
    if (!formatContext || !formatContext->pb)
        return;
    // A demuxer may have sought past the end over a bogus chunk size; progress stays in the file.
    const int64_t at = std::max<int64_t>(avio_tell(formatContext->pb), 0);
    position = length > 0 ? std::min(at, length) : at;
}

bool FFmpegReader::NextFrame() {
    cursor = end = 0;
    if (decoderDrained || !codecContext)
        return false;
    AVCodecContext* cc = codecContext.get();
    int fruitless = 0;
    while (fruitless < kMaxFruitlessPackets) {
        const int got = avcodec_receive_frame(cc, frame.get());
        if (got == 0) {
            if (frame->nb_samples <= 0) {
                ++fruitless;
                continue;
            }
            if (frame->ch_layout.nb_channels == 6)
                six = ChooseSixChannelMap(*frame, codecId);
            end = frame->nb_samples;
            return true;
        }
        if (got == AVERROR_EOF)
            break;
        if (got != AVERROR(EAGAIN)) {  // a decoding error surfaced on the output side
            ++fruitless;
            continue;
        }
        if (inputEnded)
            break;  // nothing more can come

        // The decoder wants input: the next packet of our stream, or the flush at the end.
        int read;
        while ((read = av_read_frame(formatContext.get(), packet.get())) >= 0 &&
               packet->stream_index != streamIndex)
            av_packet_unref(packet.get());
        if (read < 0) {
            inputEnded = true;
            avcodec_send_packet(cc, nullptr);  // drain what the decoder still holds
            continue;
        }
        // A packet that fails to decode is simply skipped. Every packet counts until a frame
        // comes out, so garbage cannot keep us here for ever.
        avcodec_send_packet(cc, packet.get());
        av_packet_unref(packet.get());
        ++fruitless;
    }
    decoderDrained = true;
    return false;
}

int FFmpegReader::Read(int16_t* left, int16_t* right) {
    return ReadBlock(left, right);
}

int FFmpegReader::ReadS32(int32_t* left, int32_t* right) {
    return GetWideFormat() == SampleFormat::kS32 ? ReadBlock(left, right) : 0;
}

int FFmpegReader::ReadF32(float* left, float* right) {
    return GetWideFormat() == SampleFormat::kF32 ? ReadBlock(left, right) : 0;
}

template <typename Out>
int FFmpegReader::ReadBlock(Out* left, Out* right) {
    if (!codecContext || !left)
        return 0;
    started = true;
    int filled = 0;
    while (filled < kBlockFrames) {
        if (cursor >= end && !NextFrame())
            break;
        const int take = std::min(end - cursor, kBlockFrames - filled);
        const int done = ConvertFramesTo(*frame, cursor, take, six, left + filled,
                                         right ? right + filled : nullptr);
        if (done <= 0) {  // a sample layout we cannot read: drop the frame
            cursor = end;
            continue;
        }
        cursor += done;
        filled += done;
    }
    UpdatePosition();
    return filled;
}

int FFmpegReader::ReadTags(TagSet& out) {
    if (!formatContext)
        return 0;
    static constexpr const char* kKeys[] = {"title",   "artist",    "author", "album", "genre",
                                            "comment", "copyright", "date",   "year",  "track"};
    // Some containers (Ogg among them) keep the tags with the stream rather than the file.
    const AVDictionary* tags = formatContext->metadata;
    const auto hasAny = [](const AVDictionary* d) {
        return std::any_of(std::begin(kKeys), std::end(kKeys),
                           [d](const char* k) { return TagValue(d, k) != nullptr; });
    };
    if (!hasAny(tags) && streamIndex >= 0)
        tags = formatContext->streams[streamIndex]->metadata;

    const auto text = [tags](const char* key, const char* other = nullptr) {
        const char* v = TagValue(tags, key);
        if (!v && other)
            v = TagValue(tags, other);
        return v ? RepairUtf8(v) : std::string();
    };
    const auto number = [tags](const char* key, const char* other = nullptr) {
        const char* v = TagValue(tags, key);
        if (!v && other)
            v = TagValue(tags, other);
        return v ? TrackTextToInt(v) : 0;
    };

    std::string t = text("title"), a = text("artist", "author"), al = text("album"),
                g = text("genre"), c = text("comment"), cr = text("copyright");
    const int y = number("date", "year");
    const int tr = number("track");
    if (t.empty() && a.empty() && al.empty() && g.empty() && c.empty() && cr.empty() && y < 1 &&
        tr < 1)
        return 0;
    out.title = std::move(t);
    out.artist = std::move(a);
    out.album = std::move(al);
    out.genre = std::move(g);
    out.comment = std::move(c);
    out.copyright = std::move(cr);
    out.year = y >= 1 ? std::to_string(y) : std::string();
    out.track = tr >= 1 ? std::to_string(tr) : std::string();
    out.composer.clear();
    return 1;
}

// ---------------------------------------------------------------------------------------------

FFmpegProbeReader::~FFmpegProbeReader() {
    formatContext.reset();
}

void FFmpegProbeReader::Close() {
    formatContext.reset();
    streamIndex = -1;
    Reset();
}

int FFmpegProbeReader::HasAudioStream() {
    return audioFound ? 1 : 0;
}

int FFmpegProbeReader::Open(const std::string& path, int /*preferredRate*/) {
    Close();
    audioFound = true;
    if (!OpenContainer(path, formatContext))
        return 0;
    const AVFormatContext* fc = formatContext.get();
    for (unsigned i = 0; i < fc->nb_streams; ++i) {
        const AVCodecParameters* par = fc->streams[i]->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO)
            continue;
        streamIndex = static_cast<int>(i);
        sampleRate = par->sample_rate;
        bitRate = KbitRateOf(par->bit_rate, *fc);
        sourceChannels = par->ch_layout.nb_channels;
        channels = sourceChannels < 2 ? 1 : 2;
        sourceDepth = LosslessDepth(*par, static_cast<AVSampleFormat>(par->format));
        break;
    }
    audioFound = streamIndex >= 0;
    bitsPerSample = 16;
    bytesPerSample = 2;
    duration = SecondsOf(*fc);
    return 1;
}

int FFmpegProbeReader::Read(int16_t* /*left*/, int16_t* /*right*/) {
    return 0;
}

}  // namespace kestrune
