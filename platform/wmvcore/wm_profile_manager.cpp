#include <array>
#include <cstdio>
#include <vector>

#include "platform/wmvcore/wm_ffmpeg.h"

namespace kestrune::wm {

AVCodecID EncoderForFormatTag(uint16_t formatTag) {
    switch (formatTag) {
        case kFormatTagWMAudioV8:
            return AV_CODEC_ID_WMAV2;
        case kFormatTagWMAudioV7:
            return AV_CODEC_ID_WMAV1;
        default:
            return AV_CODEC_ID_NONE;
    }
}

CodecContextPtr OpenWmaEncoder(AVCodecID id, int sampleRate, int bitRate, int channels) {
    const AVCodec* codec = avcodec_find_encoder(id);
    if (!codec || sampleRate <= 0 || bitRate <= 0 || channels < 1 || channels > 2)
        return nullptr;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context)
        return nullptr;
    context->sample_rate = sampleRate;
    context->bit_rate = bitRate;
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    context->time_base = AVRational{1, sampleRate};
    av_channel_layout_default(&context->ch_layout, channels);
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return nullptr;
    return context;
}

WmMediaType EncodedAudioType(uint16_t formatTag, const AVCodecContext& encoder) {
    WmMediaType type;
    type.majorType = WmMajorType::Audio;
    type.subtype = formatTag;
    type.fixedSizeSamples = true;
    type.temporalCompression = false;
    type.sampleSize = static_cast<uint32_t>(encoder.block_align);
    WaveFormatEx& wave = type.waveFormat;
    wave.formatTag = formatTag;
    wave.channels = static_cast<uint16_t>(encoder.ch_layout.nb_channels);
    wave.samplesPerSec = static_cast<uint32_t>(encoder.sample_rate);
    wave.avgBytesPerSec = static_cast<uint32_t>(encoder.bit_rate / 8);
    wave.blockAlign = static_cast<uint16_t>(encoder.block_align);
    wave.bitsPerSample = 16;
    if (encoder.extradata && encoder.extradata_size > 0)
        wave.extra.assign(encoder.extradata, encoder.extradata + encoder.extradata_size);
    return type;
}

WmMediaType PcmType(int sampleRate, int channels) {
    WmMediaType type;
    type.majorType = WmMajorType::Audio;
    type.subtype = kFormatTagPcm;
    type.fixedSizeSamples = true;
    type.temporalCompression = false;
    type.sampleSize = static_cast<uint32_t>(2 * channels);
    WaveFormatEx& wave = type.waveFormat;
    wave.formatTag = kFormatTagPcm;
    wave.channels = static_cast<uint16_t>(channels);
    wave.samplesPerSec = static_cast<uint32_t>(sampleRate);
    wave.avgBytesPerSec = static_cast<uint32_t>(2 * channels * sampleRate);
    wave.blockAlign = static_cast<uint16_t>(2 * channels);
    wave.bitsPerSample = 16;
    return type;
}

namespace {

// The formats offered are the ones the encoder really opens with, from this grid. A lossy
// format spending more than four bits a sample is pointless, so the grid stops there.
constexpr std::array<int, 7> kRates = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
constexpr std::array<int, 15> kBitRates = {16000,  20000,  24000,  32000,  40000,
                                           48000,  64000,  80000,  96000,  128000,
                                           160000, 192000, 256000, 320000, 384000};
constexpr int kMaxBitsPerSample = 4;

struct Format {
    WmMediaType type;
    uint32_t bitRate;
    std::string description;
};

class ProfileManager final : public WmProfileManager {
public:
    WmResult CreateEmptyProfile(uint32_t version, WmProfile& profile) override {
        if (version != kProfileVersion9)
            return WmResult::InvalidArgument;
        profile = WmProfile{};
        profile.version = version;
        return WmResult::Ok;
    }

    uint32_t GetCodecInfoCount(WmMajorType type) override {
        return type == WmMajorType::Audio ? 1 : 0;
    }

    uint32_t GetCodecFormatCount(WmMajorType type, uint32_t codec) override {
        if (type != WmMajorType::Audio || codec != 0)
            return 0;
        return static_cast<uint32_t>(Formats().size());
    }

    WmResult GetCodecFormatDesc(WmMajorType type, uint32_t codec, uint32_t format,
                                WmStreamConfig& config, std::string& description) override {
        if (type != WmMajorType::Audio || codec != 0)
            return WmResult::InvalidArgument;
        const std::vector<Format>& offered = Formats();
        if (format >= offered.size())
            return WmResult::InvalidArgument;
        const Format& f = offered[format];
        config = WmStreamConfig{};
        config.streamType = WmMajorType::Audio;
        config.bitrate = f.bitRate;
        config.mediaType = f.type;
        description = f.description;
        return WmResult::Ok;
    }

private:
    // Probed once per manager, on first use.
    const std::vector<Format>& Formats() {
        if (probed)
            return formats;
        probed = true;
        for (int channels : {2, 1}) {
            for (int rate : kRates) {
                for (int bitRate : kBitRates) {
                    if (bitRate > rate * channels * kMaxBitsPerSample)
                        continue;
                    CodecContextPtr encoder =
                        OpenWmaEncoder(AV_CODEC_ID_WMAV2, rate, bitRate, channels);
                    if (!encoder)
                        continue;
                    char text[128];
                    std::snprintf(text, sizeof text, "%d kbps, %d kHz, %s CBR", bitRate / 1000,
                                  rate / 1000, channels == 2 ? "stereo" : "mono");
                    formats.push_back({EncodedAudioType(kFormatTagWMAudioV8, *encoder),
                                       static_cast<uint32_t>(bitRate), text});
                }
            }
        }
        return formats;
    }

    bool probed = false;
    std::vector<Format> formats;
};

}  // namespace

}  // namespace kestrune::wm

extern "C" kestrune::wm::WmResult WMCreateProfileManager(kestrune::wm::WmProfileManager** manager) {
    if (!manager)
        return kestrune::wm::WmResult::InvalidArgument;
    *manager = std::make_unique<kestrune::wm::ProfileManager>().release();
    return kestrune::wm::WmResult::Ok;
}
