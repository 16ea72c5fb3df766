#include "writers/ffmpeg_writer.h"

#include "audio/utf8_text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <string_view>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/opt.h>
}

#include <opencore-amrnb/interf_enc.h>

#include "writers/output_catalogue.h"
#include "writers/tag_file_writer.h"

namespace kestrune {

namespace {

// Today's codec (and the encoder to use where FFmpeg has several) for a catalogue codec id.
struct CodecMapping {
    int catalogueId;
    AVCodecID id;
    const char* encoderName;  // null: FFmpeg's default encoder for the id
};

constexpr CodecMapping kCodecMap[] = {
    {codec::kPcmS16le, AV_CODEC_ID_PCM_S16LE, nullptr},
    {codec::kPcmS16be, AV_CODEC_ID_PCM_S16BE, nullptr},
    {codec::kPcmS8, AV_CODEC_ID_PCM_S8, nullptr},
    {codec::kPcmU8, AV_CODEC_ID_PCM_U8, nullptr},
    {codec::kPcmMulaw, AV_CODEC_ID_PCM_MULAW, nullptr},
    {codec::kPcmAlaw, AV_CODEC_ID_PCM_ALAW, nullptr},
    {codec::kPcmS32le, AV_CODEC_ID_PCM_S32LE, nullptr},
    {codec::kPcmS32be, AV_CODEC_ID_PCM_S32BE, nullptr},
    {codec::kPcmS24le, AV_CODEC_ID_PCM_S24LE, nullptr},
    {codec::kPcmS24be, AV_CODEC_ID_PCM_S24BE, nullptr},
    {codec::kPcmF32be, AV_CODEC_ID_PCM_F32BE, nullptr},
    {codec::kPcmF32le, AV_CODEC_ID_PCM_F32LE, nullptr},
    {codec::kPcmF64be, AV_CODEC_ID_PCM_F64BE, nullptr},
    {codec::kPcmF64le, AV_CODEC_ID_PCM_F64LE, nullptr},
    {codec::kAdpcmImaQt, AV_CODEC_ID_ADPCM_IMA_QT, nullptr},
    {codec::kAdpcmImaWav, AV_CODEC_ID_ADPCM_IMA_WAV, nullptr},
    {codec::kAdpcmMs, AV_CODEC_ID_ADPCM_MS, nullptr},
    {codec::kAdpcmG726, AV_CODEC_ID_ADPCM_G726, "g726"},
    {codec::kAdpcmSwf, AV_CODEC_ID_ADPCM_SWF, nullptr},
    {codec::kAdpcmYamaha, AV_CODEC_ID_ADPCM_YAMAHA, nullptr},
    {codec::kAmrNb, AV_CODEC_ID_AMR_NB, nullptr},
    {codec::kMp2, AV_CODEC_ID_MP2, "mp2"},
    {codec::kMp3, AV_CODEC_ID_MP3, "libmp3lame"},
    {codec::kAac, AV_CODEC_ID_AAC, "aac"},
    {codec::kAc3, AV_CODEC_ID_AC3, "ac3"},
    {codec::kVorbis, AV_CODEC_ID_VORBIS, "libvorbis"},
    {codec::kFlac, AV_CODEC_ID_FLAC, "flac"},
    {codec::kAlac, AV_CODEC_ID_ALAC, "alac"},
    {codec::kGsm, AV_CODEC_ID_GSM, "libgsm"},
    {codec::kGsmMs, AV_CODEC_ID_GSM_MS, "libgsm_ms"},
    {codec::kOpus, AV_CODEC_ID_OPUS, "libopus"},
    {codec::kWavPack, AV_CODEC_ID_WAVPACK, "wavpack"},
};

const CodecMapping* FindMapping(int catalogueId) {
    for (const CodecMapping& m : kCodecMap)
        if (m.catalogueId == catalogueId)
            return &m;
    return nullptr;
}

const AVCodec* FindEncoder(const CodecMapping& m) {
    if (m.encoderName) {
        const AVCodec* named = avcodec_find_encoder_by_name(m.encoderName);
        if (named && named->id == m.id)
            return named;
    }
    return avcodec_find_encoder(m.id);
}

// Codecs whose bit rate follows from the sample layout.
bool IsPcmLike(int catalogueId) {
    switch (catalogueId) {
        case codec::kPcmS16le:
        case codec::kPcmS16be:
        case codec::kPcmS8:
        case codec::kPcmU8:
        case codec::kPcmMulaw:
        case codec::kPcmAlaw:
        case codec::kPcmS32le:
        case codec::kPcmS32be:
        case codec::kPcmS24le:
        case codec::kPcmS24be:
        case codec::kPcmF32be:
        case codec::kPcmF32le:
        case codec::kPcmF64be:
        case codec::kPcmF64le:
        case codec::kAdpcmImaQt:
        case codec::kAdpcmImaWav:
        case codec::kAdpcmMs:
        case codec::kAdpcmYamaha:
            return true;
        default:
            return false;
    }
}

// The bit-rate choices the codec table offers for a codec (empty when it has none).
std::span<const int> TableBitRates(int catalogueId) {
    if (catalogueId == codec::kAdpcmG726)
        return {};  // bits per sample, not bit/s
    for (const CodecEntry& entry : CodecTable())
        if (entry.codecId == catalogueId)
            return entry.bitRates;
    return {};
}

// The bit rate to ask the encoder for first.
int64_t WantedBitRate(int catalogueId, AVCodecID id, int storedBitRate, int rate, int channels) {
    if (IsPcmLike(catalogueId))
        return static_cast<int64_t>(av_get_bits_per_sample(id)) * channels * rate;
    if (catalogueId == codec::kAdpcmG726) {
        const int bits = storedBitRate >= 2 && storedBitRate <= 5 ? storedBitRate : 4;
        return static_cast<int64_t>(bits) * rate;
    }
    if (catalogueId == codec::kFlac || catalogueId == codec::kWavPack)
        return 0;
    if (catalogueId == codec::kGsm || catalogueId == codec::kGsmMs)
        return 13000;
    return storedBitRate;
}

// The asked bit rate, then the table's other choices nearest first (a tie goes to the lower):
// encoders refuse some rates for some sample rates or channel counts (MPEG layer 2 tables,
// AC-3 tables, the Vorbis quality range), and the closest rate they take is what the user
// would want.
std::vector<int64_t> BitRateCandidates(int64_t wanted, std::span<const int> table) {
    std::vector<int64_t> out{wanted};
    std::vector<int64_t> rest(table.begin(), table.end());
    std::stable_sort(rest.begin(), rest.end(), [wanted](int64_t a, int64_t b) {
        const int64_t da = a > wanted ? a - wanted : wanted - a;
        const int64_t db = b > wanted ? b - wanted : wanted - b;
        return da < db || (da == db && a < b);
    });
    for (int64_t r : rest)
        if (r != wanted)
            out.push_back(r);
    return out;
}

AVSampleFormat ChooseSampleFormat(const AVCodec* encoder) {
    if (!encoder->sample_fmts)
        return AV_SAMPLE_FMT_S16;
    static constexpr AVSampleFormat kPreferred[] = {
        AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP,
        AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP,
        AV_SAMPLE_FMT_U8,  AV_SAMPLE_FMT_U8P,  AV_SAMPLE_FMT_S64, AV_SAMPLE_FMT_S64P};
    for (AVSampleFormat wanted : kPreferred)
        for (const AVSampleFormat* f = encoder->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
            if (*f == wanted)
                return wanted;
    return AV_SAMPLE_FMT_NONE;
}

// Converts frames of planar input (16-bit, or a wide block) into a frame buffer at a frame
// offset.
template <typename In, typename T, T (*Sample)(In), bool Planar>
void ConvertInto(const In* left, const In* right, int channels, int frames, AVFrame* frame,
                 int offset) {
    if (Planar) {
        T* l = reinterpret_cast<T*>(frame->extended_data[0]) + offset;
        for (int i = 0; i < frames; ++i)
            l[i] = Sample(left[i]);
        if (channels == 2) {
            T* r = reinterpret_cast<T*>(frame->extended_data[1]) + offset;
            for (int i = 0; i < frames; ++i)
                r[i] = Sample(right[i]);
        }
    } else if (channels == 2) {
        T* out = reinterpret_cast<T*>(frame->extended_data[0]) + offset * 2;
        for (int i = 0; i < frames; ++i) {
            out[2 * i] = Sample(left[i]);
            out[2 * i + 1] = Sample(right[i]);
        }
    } else {
        T* out = reinterpret_cast<T*>(frame->extended_data[0]) + offset;
        for (int i = 0; i < frames; ++i)
            out[i] = Sample(left[i]);
    }
}

uint8_t ToU8(int16_t s) {
    return static_cast<uint8_t>((s >> 8) + 128);
}
int16_t ToS16(int16_t s) {
    return s;
}
int32_t ToS32(int16_t s) {
    return static_cast<int32_t>(s) * 65536;
}
int64_t ToS64(int16_t s) {
    return static_cast<int64_t>(s) * (int64_t{1} << 48);
}
float ToFlt(int16_t s) {
    return static_cast<float>(s) * (1.0f / 32768.0f);
}
double ToDbl(int16_t s) {
    return static_cast<double>(s) * (1.0 / 32768.0);
}

// Wide blocks: integers with full scale at 2^31, floats at 1.0.
int32_t WideToS32(int32_t s) {
    return s;
}
int64_t WideToS64(int32_t s) {
    return static_cast<int64_t>(s) * (int64_t{1} << 32);
}
float WideToFlt(int32_t s) {
    return static_cast<float>(static_cast<double>(s) * (1.0 / 2147483648.0));
}
double WideToDbl(int32_t s) {
    return static_cast<double>(s) * (1.0 / 2147483648.0);
}
float FltToFlt(float s) {
    return s;
}
double FltToDbl(float s) {
    return s;
}

template <typename In>
using ConvertFrom = void (*)(const In*, const In*, int, int, AVFrame*, int);

ConvertFrom<int16_t> ConverterFor(AVSampleFormat format) {
    switch (format) {
        case AV_SAMPLE_FMT_U8:
            return ConvertInto<int16_t, uint8_t, ToU8, false>;
        case AV_SAMPLE_FMT_U8P:
            return ConvertInto<int16_t, uint8_t, ToU8, true>;
        case AV_SAMPLE_FMT_S16:
            return ConvertInto<int16_t, int16_t, ToS16, false>;
        case AV_SAMPLE_FMT_S16P:
            return ConvertInto<int16_t, int16_t, ToS16, true>;
        case AV_SAMPLE_FMT_S32:
            return ConvertInto<int16_t, int32_t, ToS32, false>;
        case AV_SAMPLE_FMT_S32P:
            return ConvertInto<int16_t, int32_t, ToS32, true>;
        case AV_SAMPLE_FMT_S64:
            return ConvertInto<int16_t, int64_t, ToS64, false>;
        case AV_SAMPLE_FMT_S64P:
            return ConvertInto<int16_t, int64_t, ToS64, true>;
        case AV_SAMPLE_FMT_FLT:
            return ConvertInto<int16_t, float, ToFlt, false>;
        case AV_SAMPLE_FMT_FLTP:
            return ConvertInto<int16_t, float, ToFlt, true>;
        case AV_SAMPLE_FMT_DBL:
            return ConvertInto<int16_t, double, ToDbl, false>;
        case AV_SAMPLE_FMT_DBLP:
            return ConvertInto<int16_t, double, ToDbl, true>;
        default:
            return nullptr;
    }
}

ConvertFrom<int32_t> WideConverterFor(AVSampleFormat format) {
    switch (format) {
        case AV_SAMPLE_FMT_S32:
            return ConvertInto<int32_t, int32_t, WideToS32, false>;
        case AV_SAMPLE_FMT_S32P:
            return ConvertInto<int32_t, int32_t, WideToS32, true>;
        case AV_SAMPLE_FMT_S64:
            return ConvertInto<int32_t, int64_t, WideToS64, false>;
        case AV_SAMPLE_FMT_S64P:
            return ConvertInto<int32_t, int64_t, WideToS64, true>;
        case AV_SAMPLE_FMT_FLT:
            return ConvertInto<int32_t, float, WideToFlt, false>;
        case AV_SAMPLE_FMT_FLTP:
            return ConvertInto<int32_t, float, WideToFlt, true>;
        case AV_SAMPLE_FMT_DBL:
            return ConvertInto<int32_t, double, WideToDbl, false>;
        case AV_SAMPLE_FMT_DBLP:
            return ConvertInto<int32_t, double, WideToDbl, true>;
        default:
            return nullptr;
    }
}

ConvertFrom<float> FloatConverterFor(AVSampleFormat format) {
    switch (format) {
        case AV_SAMPLE_FMT_FLT:
            return ConvertInto<float, float, FltToFlt, false>;
        case AV_SAMPLE_FMT_FLTP:
            return ConvertInto<float, float, FltToFlt, true>;
        case AV_SAMPLE_FMT_DBL:
            return ConvertInto<float, double, FltToDbl, false>;
        case AV_SAMPLE_FMT_DBLP:
            return ConvertInto<float, double, FltToDbl, true>;
        default:
            return nullptr;
    }
}

bool Lists(const AVCodec* encoder, std::initializer_list<AVSampleFormat> formats) {
    if (!encoder->sample_fmts)
        return false;
    for (const AVSampleFormat* f = encoder->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
        for (AVSampleFormat wanted : formats)
            if (*f == wanted)
                return true;
    return false;
}

// The first of the wanted formats the encoder lists, in the order wanted.
AVSampleFormat FirstListed(const AVCodec* encoder, std::initializer_list<AVSampleFormat> wanted) {
    for (AVSampleFormat w : wanted)
        if (Lists(encoder, {w}))
            return w;
    return AV_SAMPLE_FMT_NONE;
}

// The most bits of an integer sample the encoder keeps: FFmpeg's FLAC and ALAC encoders write
// up to 24, PCM its own width; everything else takes 32-bit input.
int MostIntegerBits(AVCodecID id) {
    if (id == AV_CODEC_ID_FLAC || id == AV_CODEC_ID_ALAC)
        return 24;
    const int bits = av_get_bits_per_sample(id);
    return bits > 16 ? bits : 32;
}

constexpr int kAmrFrame = 160;
constexpr int kAmrMaxPacket = 64;
constexpr int kAmrRates[] = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200};

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The generic keys the nine texts are set under, by their property names; the track has its
// own.
const char* GenericKey(const std::string& nineKey) {
    static const std::pair<const char*, const char*> kKeys[] = {
        {"TITLE", "title"},       {"ARTIST", "artist"},      {"ALBUM", "album"},
        {"DATE", "date"},         {"GENRE", "genre"},        {"COMMENT", "comment"},
        {"COMPOSER", "composer"}, {"COPYRIGHT", "copyright"}};
    for (const auto& [name, key] : kKeys)
        if (nineKey == name)
            return key;
    return nullptr;
}

// A fuller field replaces the text of the nine it stands for. (Removing an entry moves the
// dictionary's last one into its place: done first, it leaves the order of the fields' values
// alone.)
void RemoveNineReplacedBy(const TagSet& tags, AVDictionary** target) {
    for (const auto& [key, values] : tags.fields)
        if (const char* generic = GenericKey(key); generic && !values.empty())
            av_dict_set(target, generic, nullptr, 0);
}

// A picture's file name in a Matroska file, as a stem and an extension: players take the
// one named cover for the cover.
std::pair<std::string, std::string> PictureFileName(const TagPicture& p) {
    std::string ext = "bin";
    for (const char* e : {"jpg", "png", "gif", "bmp", "webp"})
        if (p.mimeType == std::string("image/") + e)
            ext = e;
    if (p.mimeType == "image/jpeg")
        ext = "jpg";
    return {p.type == kFrontCover ? "cover" : p.type == 4 ? "back" : "picture", ext};
}

// Sets a text that can be given to the muxer under key; an empty text is none.
bool SetMetadata(AVDictionary** target, const std::string& key, const std::string& value) {
    const std::string text = RepairUtf8(value);
    return text.empty() || av_dict_set(target, key.c_str(), text.c_str(), 0) >= 0;
}

}  // namespace

const char* FFmpegCodecName(int codecId) {
    const CodecMapping* mapping = FindMapping(codecId);
    return mapping ? avcodec_get_name(mapping->id) : nullptr;
}

void FFmpegWriter::AmrCloser::operator()(void* state) const {
    Encoder_Interface_exit(state);
}

FFmpegWriter::FFmpegWriter() = default;

FFmpegWriter::~FFmpegWriter() {
    Close();
}

void FFmpegWriter::SetTags(const TagSet& tags) {
    tags_ = tags;
    track_ = tags.TrackNumber();
    tagRoom_ = tags.HasMore() ? TagRoomFor(tags) : 0;
}

void FFmpegWriter::SetPath(const std::string& path) {
    path_ = path;
}
void FFmpegWriter::SetSampleRate(int rate) {
    sampleRate_ = rate;
}
void FFmpegWriter::SetChannels(int count) {
    channels_ = count;
}
void FFmpegWriter::SetBitRate(int rate) {
    bitRate_ = rate;
}

void FFmpegWriter::SetEncoderOptions(const EncoderOptions& options) {
    if (const auto* own = dynamic_cast<const FFmpegEncoderOptions*>(&options)) {
        container_ = own->containerShortName;
        codecId_ = own->codecId;
        sourceRate_ = own->sourceSampleRate;
    }
}

int FFmpegWriter::FrameSize() const {
    return pathKind_ == Path::Frame || pathKind_ == Path::Amr ? frameSize_ : 0;
}

int64_t FFmpegWriter::EncoderBitRate() const {
    if (codec_)
        return codec_->bit_rate;
    if (stream_)
        return stream_->codecpar->bit_rate;
    return 0;
}

WideInput FFmpegWriter::TakeWideInput(SampleFormat offered, SampleDepth depth) {
    wide_ = {};
    const CodecMapping* mapping = FindMapping(codecId_);
    const AVCodec* encoder = mapping && codecId_ != codec::kAmrNb ? FindEncoder(*mapping) : nullptr;
    if (!encoder || offered == SampleFormat::kS16)
        return wide_;
    const bool integers = Lists(encoder, {AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P});
    const bool floats = Lists(
        encoder, {AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP});
    const int most = MostIntegerBits(mapping->id);
    // What carries the source unchanged first; the other wide form when the encoder has not
    // that one; nothing wide for an encoder of 16 bits or fewer.
    if (offered == SampleFormat::kF32 && floats)
        wide_ = {SampleFormat::kF32, 32};
    else if (integers)
        wide_ = {SampleFormat::kS32,
                 offered == SampleFormat::kS32 ? std::clamp(depth.bits, 17, most) : most};
    else if (floats)
        wide_ = {SampleFormat::kF32, 32};
    return wide_;
}

int FFmpegWriter::EncoderDelay() const {
    return codec_ ? codec_->initial_padding : 0;
}

int FFmpegWriter::Open() {
    Close();
    failed_ = false;
    completed_ = false;
    if (path_.empty() || sampleRate_ <= 0 || (channels_ != 1 && channels_ != 2))
        return 0;

    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, container_.c_str(), nullptr) < 0 || !raw)
        return 0;
    format_.reset(raw);
    stream_ = avformat_new_stream(format_.get(), nullptr);
    if (!stream_) {
        Release();
        return 0;
    }
    stream_->id = 0;
    const bool ok = codecId_ == codec::kAmrNb ? OpenAmrEncoder() : OpenEncoder();
    packet_.reset(av_packet_alloc());
    if (!ok || !packet_ || !AddMetadata()) {
        Release();
        return 0;
    }

    // "file:" keeps a name with a colon from being taken for another protocol.
    if (!(format_->oformat->flags & AVFMT_NOFILE)) {
        if (avio_open(&format_->pb, ("file:" + path_).c_str(), AVIO_FLAG_WRITE) < 0) {
            Release();
            return 0;
        }
        fileOpened_ = true;
    }
    av_freep(&format_->url);
    format_->url = av_strdup(path_.c_str());
    // The tags that go in once the file is whole then fit where the muxer leaves room (beyond
    // the padding each muxer leaves anyway).
    if (tagRoom_ > 0 && (container_ == "mp3" || container_ == "flac"))
        format_->metadata_header_padding = static_cast<int>(
            std::min<size_t>(tagRoom_ + (container_ == "flac" ? 8192 : 16), (size_t{1} << 24) - 1));
    AVDictionary* muxerOptions = nullptr;
    if (container_ == "mp3")
        av_dict_set(&muxerOptions, "id3v2_version", "3", 0);
    const int header = avformat_write_header(format_.get(), &muxerOptions);
    av_dict_free(&muxerOptions);
    if (header < 0) {
        const bool created = fileOpened_;
        Release();
        // Nothing of a failed start stays behind (a device such as /dev/full is left alone).
        if (created && IsRegularFile(path_))
            std::remove(path_.c_str());
        return 0;
    }
    headerWritten_ = true;
    return 1;
}

bool FFmpegWriter::OpenEncoder() {
    const CodecMapping* mapping = FindMapping(codecId_);
    if (!mapping)
        return false;
    const AVCodec* encoder = FindEncoder(*mapping);
    if (!encoder)
        return false;
    AVSampleFormat sampleFormat;
    if (wide_.format == SampleFormat::kS32) {
        sampleFormat = FirstListed(encoder, {AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P});
        convertS32_ = WideConverterFor(sampleFormat);
        if (!convertS32_)
            return false;
    } else if (wide_.format == SampleFormat::kF32) {
        sampleFormat = FirstListed(encoder, {AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP,
                                             AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP});
        convertF32_ = FloatConverterFor(sampleFormat);
        if (!convertF32_)
            return false;
    } else {
        sampleFormat = ChooseSampleFormat(encoder);
        convert_ = ConverterFor(sampleFormat);
        if (!convert_)
            return false;
    }

    const int64_t wanted = WantedBitRate(codecId_, mapping->id, bitRate_, sampleRate_, channels_);
    const std::vector<int64_t> candidates = wanted > 0
                                                ? BitRateCandidates(wanted, TableBitRates(codecId_))
                                                : std::vector<int64_t>{wanted};
    for (int64_t bitRate : candidates) {
        ffmpeg::CodecContextPtr ctx(avcodec_alloc_context3(encoder));
        if (!ctx)
            return false;
        ctx->codec_type = AVMEDIA_TYPE_AUDIO;
        ctx->codec_id = mapping->id;
        ctx->sample_rate = sampleRate_;
        ctx->sample_fmt = sampleFormat;
        if (channels_ == 2)
            ctx->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
        else
            ctx->ch_layout = AV_CHANNEL_LAYOUT_MONO;
        ctx->time_base = AVRational{1, sampleRate_};
        ctx->bit_rate = bitRate;
        if (wide_.format == SampleFormat::kS32)
            ctx->bits_per_raw_sample = wide_.bits;  // FLAC and ALAC write that many
        if (codecId_ == codec::kAdpcmG726)
            ctx->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;  // rates other than 8000 Hz
        if (encoder->capabilities & AV_CODEC_CAP_EXPERIMENTAL)
            ctx->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
        if (format_->oformat->flags & AVFMT_GLOBALHEADER)
            ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(ctx.get(), encoder, nullptr) >= 0) {
            codec_ = std::move(ctx);
            break;
        }
    }
    if (!codec_)
        return false;
    if (avcodec_parameters_from_context(stream_->codecpar, codec_.get()) < 0)
        return false;
    AVCodecParameters* par = stream_->codecpar;
    if (codecId_ == codec::kAdpcmG726) {
        // WAV keeps the byte rate as a whole number and readers derive the code size from it
        // (byte rate x 8 / sample rate, rounded down): round it up so they get it right.
        par->bit_rate = (par->bit_rate + 7) / 8 * 8;
    }
    if (par->bits_per_coded_sample == 0 && codecId_ == codec::kGsm)
        par->bits_per_coded_sample = 16;  // AIFF-C gives the width of the decoded samples
    if (codecId_ == codec::kOpus && sourceRate_ > 0 && par->extradata_size >= 16) {
        // The Opus header names the rate the audio had before it was brought to 48000 Hz, so
        // that a decoder may give it back at that rate.
        const auto rate = static_cast<uint32_t>(sourceRate_);
        for (int i = 0; i < 4; ++i)
            par->extradata[12 + i] = static_cast<uint8_t>(rate >> (8 * i));
    }
    stream_->time_base = codec_->time_base;

    frame_.reset(av_frame_alloc());
    if (!frame_)
        return false;
    const int bytesPerSample = av_get_bytes_per_sample(sampleFormat);
    if (codec_->frame_size >= 2) {
        pathKind_ = Path::Frame;
        frameSize_ = codec_->frame_size;
        frame_->nb_samples = frameSize_;
    } else {
        // Encoders that take any count: one packet per chunk of the conversion buffer.
        pathKind_ = Path::Pcm;
        const int unit = std::max(2, bytesPerSample);
        const int bufferSize = channels_ * unit * 1152 + 16384;
        chunkFrames_ = bufferSize / (channels_ * bytesPerSample);
        frame_->nb_samples = chunkFrames_;
    }
    frame_->format = sampleFormat;
    frame_->sample_rate = sampleRate_;
    if (av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout) < 0)
        return false;
    if (av_frame_get_buffer(frame_.get(), 0) < 0)
        return false;
    return true;
}

bool FFmpegWriter::OpenAmrEncoder() {
    // The opencore encoder takes 8000 Hz mono only; the catalogue never asks for more.
    if (sampleRate_ != 8000 || channels_ != 1)
        return false;
    const int bitRate = NearestAllowed(bitRate_, kAmrRates);
    amrMode_ = static_cast<int>(std::find(std::begin(kAmrRates), std::end(kAmrRates), bitRate) -
                                std::begin(kAmrRates));
    amr_.reset(Encoder_Interface_init(0));
    if (!amr_)
        return false;
    amrInput_ = std::make_unique<int16_t[]>(kAmrFrame);
    amrOutput_ = std::make_unique<uint8_t[]>(kAmrMaxPacket);
    AVCodecParameters* par = stream_->codecpar;
    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = AV_CODEC_ID_AMR_NB;
    par->sample_rate = 8000;
    par->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    par->frame_size = kAmrFrame;
    par->bit_rate = bitRate;
    stream_->time_base = AVRational{1, 8000};
    pathKind_ = Path::Amr;
    frameSize_ = kAmrFrame;
    return true;
}

bool FFmpegWriter::AddMetadata() {
    const std::string track = track_ > 0 ? std::to_string(track_) : std::string();
    const std::pair<const char*, const std::string*> keys[] = {
        {"title", &tags_.title},        {"artist", &tags_.artist}, {"author", &tags_.artist},
        {"album", &tags_.album},        {"genre", &tags_.genre},   {"date", &tags_.year},
        {"comment", &tags_.comment},    {"track", &track},         {"composer", &tags_.composer},
        {"copyright", &tags_.copyright}};
    // Ogg keeps its comments with the stream, the other muxers with the file.
    AVDictionary** target = IsOggContainer(container_) ? &stream_->metadata : &format_->metadata;
    for (const auto& [key, value] : keys) {
        if (value->empty())
            continue;
        const std::string text = RepairUtf8(*value);
        if (text.empty())
            continue;
        if (av_dict_set(target, key, text.c_str(), 0) < 0)
            return false;
    }
    if (!tags_.HasMore())
        return true;
    if (IsOggContainer(container_))
        return AddVorbisCommentsBeyondNine(target);
    if (container_ == "matroska")
        return AddMatroskaTagsBeyondNine();
    return true;
}

bool FFmpegWriter::AddVorbisCommentsBeyondNine(AVDictionary** target) {
    RemoveNineReplacedBy(tags_, target);
    for (const auto& [key, value] : OggCommentEntries(tags_)) {
        // A picture's base64 is plain ASCII, and large: it goes in as it is.
        const bool picture = key.rfind("METADATA_BLOCK_PICTUR", 0) == 0;
        if (picture ? av_dict_set(target, key.c_str(), value.c_str(), 0) < 0
                    : !SetMetadata(target, key, value))
            return false;
    }
    return true;
}

bool FFmpegWriter::AddMatroskaTagsBeyondNine() {
    AVDictionary** target = &format_->metadata;
    // The muxer keeps one value a name: several go in as one text.
    RemoveNineReplacedBy(tags_, target);
    for (const auto& [key, values] : tags_.fields) {
        if (key == "TRACKNUMBER" || values.empty())
            continue;
        std::string joined;
        for (const std::string& v : values)
            joined += (joined.empty() ? "" : " / ") + v;
        if (!SetMetadata(target, key, joined))
            return false;
    }
    if (track_ > 0 && tags_.trackTotal > 0 &&
        !SetMetadata(target, "TOTAL_PARTS", std::to_string(tags_.trackTotal)))
        return false;
    if (tags_.disc > 0) {
        std::string disc = std::to_string(tags_.disc);
        if (tags_.discTotal > 0)
            disc += "/" + std::to_string(tags_.discTotal);
        if (!SetMetadata(target, "DISCNUMBER", disc))
            return false;
    }
    // Pictures go in as attachments, which the muxer writes with the header.
    std::map<std::string, int> named;
    for (const TagPicture& p : tags_.pictures) {
        if (p.data.empty() || p.data.size() > static_cast<size_t>(INT_MAX) - 64)
            continue;
        AVStream* st = avformat_new_stream(format_.get(), nullptr);
        if (!st)
            return false;
        AVCodecParameters* par = st->codecpar;
        par->codec_type = AVMEDIA_TYPE_ATTACHMENT;
        par->extradata =
            static_cast<uint8_t*>(av_mallocz(p.data.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!par->extradata)
            return false;
        std::copy(p.data.begin(), p.data.end(), par->extradata);
        par->extradata_size = static_cast<int>(p.data.size());
        const auto [stem, ext] = PictureFileName(p);
        const int seen = named[stem]++;
        const std::string name = stem + (seen > 0 ? std::to_string(seen + 1) : "") + "." + ext;
        const std::string mime = p.mimeType.empty() ? "application/octet-stream" : p.mimeType;
        if (!SetMetadata(&st->metadata, "filename", name) ||
            !SetMetadata(&st->metadata, "mimetype", mime) ||
            !SetMetadata(&st->metadata, "title", p.description))
            return false;
    }
    return true;
}

int FFmpegWriter::Write(const int16_t* left, const int16_t* right, int frames) {
    if (pathKind_ == Path::Amr) {
        if (!headerWritten_ || failed_)
            return 0;
        if (frames <= 0)
            return 1;
        if (!left)
            return 0;
        if (!WriteAmrPath(left, frames)) {
            failed_ = true;  // the file is broken from here on
            return 0;
        }
        return 1;
    }
    return WriteBlock(left, right, frames, convert_);
}

int FFmpegWriter::WriteS32(const int32_t* left, const int32_t* right, int frames) {
    return WriteBlock(left, right, frames, convertS32_);
}

int FFmpegWriter::WriteF32(const float* left, const float* right, int frames) {
    return WriteBlock(left, right, frames, convertF32_);
}

template <typename In>
int FFmpegWriter::WriteBlock(const In* left, const In* right, int frames, ConvertFn<In> convert) {
    if (!headerWritten_ || failed_)
        return 0;
    if (frames <= 0)
        return 1;
    if (!left || !convert)
        return 0;
    if (channels_ == 2 && !right)
        right = left;
    bool ok = false;
    switch (pathKind_) {
        case Path::Frame:
            ok = WriteFramePath(left, right, frames, convert);
            break;
        case Path::Pcm:
            ok = WritePcmPath(left, right, frames, convert);
            break;
        case Path::Amr:
        case Path::None:
            break;
    }
    if (!ok)
        failed_ = true;  // the file is broken from here on
    return ok ? 1 : 0;
}

template <typename In>
bool FFmpegWriter::WriteFramePath(const In* left, const In* right, int frames,
                                  ConvertFn<In> convert) {
    while (frames > 0) {
        const int n = std::min(frames, frameSize_ - fill_);
        convert(left, right, channels_, n, frame_.get(), fill_);
        fill_ += n;
        frames -= n;
        left += n;
        if (right)
            right += n;
        if (fill_ == frameSize_) {
            frame_->nb_samples = frameSize_;
            if (!SendFrame(frame_.get()))
                return false;
            fill_ = 0;
        }
    }
    return true;
}

template <typename In>
bool FFmpegWriter::WritePcmPath(const In* left, const In* right, int frames,
                                ConvertFn<In> convert) {
    while (frames > 0) {
        const int n = std::min(frames, chunkFrames_);
        convert(left, right, channels_, n, frame_.get(), 0);
        frame_->nb_samples = n;
        if (!SendFrame(frame_.get()))
            return false;
        frames -= n;
        left += n;
        if (right)
            right += n;
    }
    return true;
}

bool FFmpegWriter::WriteAmrPath(const int16_t* left, int frames) {
    while (frames > 0) {
        const int n = std::min(frames, kAmrFrame - fill_);
        std::copy_n(left, n, amrInput_.get() + fill_);
        fill_ += n;
        frames -= n;
        left += n;
        if (fill_ == kAmrFrame && !EncodeAmrFrame())
            return false;
    }
    return true;
}

bool FFmpegWriter::EncodeAmrFrame() {
    fill_ = 0;
    const int bytes = Encoder_Interface_Encode(amr_.get(), static_cast<Mode>(amrMode_),
                                               amrInput_.get(), amrOutput_.get(), 0);
    if (bytes <= 0)
        return false;
    // The packet borrows the output buffer; the muxer copies what it keeps.
    AVPacket* packet = packet_.get();
    packet->data = amrOutput_.get();
    packet->size = bytes;
    packet->pts = packet->dts = nextPts_;
    packet->duration = kAmrFrame;
    packet->flags = AV_PKT_FLAG_KEY;
    nextPts_ += kAmrFrame;
    return WritePacket(packet, AVRational{1, 8000});
}

bool FFmpegWriter::SendFrame(AVFrame* frame) {
    if (frame) {
        frame->pts = nextPts_;
        nextPts_ += frame->nb_samples;
    }
    if (avcodec_send_frame(codec_.get(), frame) < 0)
        return false;
    if (!DrainPackets())
        return false;
    // The encoder has let go of the frame by now, so this reuses its buffer.
    return !frame || av_frame_make_writable(frame) >= 0;
}

bool FFmpegWriter::DrainPackets() {
    for (;;) {
        const int ret = avcodec_receive_packet(codec_.get(), packet_.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return true;
        if (ret < 0)
            return false;
        if (!WritePacket(packet_.get(), codec_->time_base))
            return false;
    }
}

bool FFmpegWriter::WritePacket(AVPacket* packet, AVRational from) {
    packet->stream_index = stream_->index;
    av_packet_rescale_ts(packet, from, stream_->time_base);
    const int ret = av_write_frame(format_.get(), packet);
    av_packet_unref(packet);
    return ret >= 0;
}

void FFmpegWriter::Finish() {
    if (failed_)
        return;
    bool ok = true;
    if (pathKind_ == Path::Frame && fill_ > 0) {
        // A short last frame: encoders that allow one end exactly on the input, the others
        // get it padded with silence by FFmpeg.
        frame_->nb_samples = fill_;
        ok = SendFrame(frame_.get());
        fill_ = 0;
    }
    if (ok && (pathKind_ == Path::Frame || pathKind_ == Path::Pcm)) {
        ok = avcodec_send_frame(codec_.get(), nullptr) >= 0 && DrainPackets();
    }
    if (ok && pathKind_ == Path::Amr && fill_ > 0) {
        std::fill(amrInput_.get() + fill_, amrInput_.get() + kAmrFrame, int16_t{0});
        ok = EncodeAmrFrame();
    }
    if (ok)
        ok = av_write_trailer(format_.get()) >= 0;
    if (ok && format_->pb && !(format_->oformat->flags & AVFMT_NOFILE))
        ok = avio_closep(&format_->pb) >= 0;
    if (!ok)
        failed_ = true;
    completed_ = ok;
}

void FFmpegWriter::Close() {
    if (headerWritten_)
        Finish();
    Release();
}

void FFmpegWriter::Release() {
    amr_.reset();
    amrInput_.reset();
    amrOutput_.reset();
    packet_.reset();
    frame_.reset();
    codec_.reset();
    format_.reset();  // closes the byte stream when it is still open
    stream_ = nullptr;
    convert_ = nullptr;
    convertS32_ = nullptr;
    convertF32_ = nullptr;
    pathKind_ = Path::None;
    frameSize_ = 0;
    chunkFrames_ = 0;
    fill_ = 0;
    nextPts_ = 0;
    fileOpened_ = false;
    headerWritten_ = false;
}

}  // namespace kestrune
