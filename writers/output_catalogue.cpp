#include "writers/output_catalogue.h"

#include <array>
#include <cctype>
#include <cstring>

namespace kestrune {

namespace {

constexpr int kRAmr[] = {8000};
constexpr int kR8to48[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kRAac[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kRAc3[] = {32000, 44100, 48000};
constexpr int kR44[] = {44100};
constexpr int kRSwf[] = {11025, 22050, 44100};
constexpr int kRMp2[] = {16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kRFlac[] = {8000, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000};
constexpr int kRPcm[] = {6000,  8000,  11025, 12000, 16000, 22050,
                         24000, 32000, 44100, 48000, 88200, 96000};
constexpr int kRMmf[] = {4000, 8000, 11025, 22050, 44100};
constexpr int kROpus[] = {48000};  // Opus encodes at 48000 Hz, whatever the source's rate

constexpr int kBAmr[] = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200};
constexpr int kBAc3[] = {32000,  40000,  48000,  56000,  64000,  80000,  96000,
                         112000, 128000, 160000, 192000, 224000, 256000, 320000,
                         384000, 448000, 512000, 576000, 640000};
constexpr int kBAac[] = {16000,  24000,  32000,  40000,  48000,  56000,  64000,  80000, 96000,
                         112000, 128000, 144000, 160000, 192000, 224000, 256000, 320000};
constexpr int kBMpeg[] = {8000,  16000,  24000,  32000,  40000,  48000,  56000,  64000,  80000,
                          96000, 112000, 128000, 144000, 160000, 192000, 224000, 256000, 320000};
constexpr int kBVorbis[] = {8000,   16000,  24000,  32000,  40000,  48000,  56000,
                            64000,  80000,  96000,  112000, 128000, 144000, 160000,
                            192000, 224000, 256000, 320000, 400000, 480000};
constexpr int kBG726[] = {2, 3, 4, 5};
constexpr int kBOpus[] = {6000,   8000,   12000,  16000,  24000,  32000,  40000,  48000,
                          56000,  64000,  80000,  96000,  112000, 128000, 160000, 192000,
                          224000, 256000, 320000, 384000, 448000, 510000};

constexpr std::span<const int> kNone{};

// The most a lossless codec keeps: ALAC's highest rate, FLAC's (in steps of 10 Hz above
// 65535 Hz), and for PCM the highest rate the readers take for audio.
constexpr int kAlacMost = 384000;
constexpr int kFlacMost = 655350;
constexpr int kPcmMost = 768000;

const auto kCodecs = std::to_array<CodecEntry>({
    {codec::kAmrNb, "Adaptive Multi-Rate (AMR) Narrow-Band", kRAmr, kBAmr, 1},          // C1
    {codec::kAlac, "ALAC (Apple Lossless Audio Codec)", kR8to48, kNone, 2, kAlacMost},  // C2
    {codec::kAc3, "ATSC A/52A (AC-3)", kRAc3, kBAc3, 3},                                // C3
    {codec::kAac, "AAC (Advanced Audio Codec)", kRAac, kBAac, 3},                       // C4
    {codec::kAac, "AAC (Advanced Audio Codec)", kR44, kBAac, 2},                        // C5
    {codec::kAdpcmSwf, "ADPCM", kRSwf, kNone, 3},                                       // C6
    {codec::kMp2, "MP2 (MPEG audio layer 2)", kRMp2, kBMpeg, 3},                        // C7
    {codec::kMp3, "LAME MP3 (MPEG audio layer 3)", kR8to48, kBMpeg, 3},                 // C8
    {codec::kMp3, "LAME MP3 (MPEG audio layer 3)", kRSwf, kBMpeg, 3},                   // C9
    {codec::kVorbis, "Vorbis OGG Encoder", kR8to48, kBVorbis, 3},                       // C10
    {codec::kFlac, "FLAC (Free Lossless Audio Codec)", kRFlac, kNone, 3, kFlacMost},    // C11
    {codec::kPcmU8, "PCM 8-bit", kRPcm, kNone, 3},                                      // C12
    {codec::kPcmS16le, "PCM 16-bit", kRPcm, kNone, 3, kPcmMost},                        // C13
    {codec::kPcmS24le, "PCM 24-bit", kRPcm, kNone, 3, kPcmMost},                        // C14
    {codec::kPcmS32le, "PCM 32-bit", kRPcm, kNone, 3, kPcmMost},                        // C15
    {codec::kPcmF32le, "PCM 32-bit Float", kRPcm, kNone, 3, kPcmMost},                  // C16
    {codec::kPcmF64le, "PCM 64-bit Float", kRPcm, kNone, 3, kPcmMost},                  // C17
    {codec::kPcmAlaw, "CCITT a-Law (8-bit)", kRPcm, kNone, 3},                          // C18
    {codec::kPcmMulaw, "CCITT mu-Law (8-bit)", kRPcm, kNone, 3},                        // C19
    {codec::kAdpcmMs, "Microsoft ADPCM (4-bit)", kRPcm, kNone, 3},                      // C20
    {codec::kAdpcmImaWav, "IMA ADPCM (4-bit)", kRPcm, kNone, 3},                        // C21
    {codec::kAdpcmG726, "G.726 ADPCM", kRPcm, kBG726, 1},                               // C22
    {codec::kAdpcmYamaha, "Yamaha ADPCM (4-bit)", kRPcm, kNone, 3},                     // C23
    {codec::kAdpcmYamaha, "Yamaha ADPCM (4-bit)", kRMmf, kNone, 1},                     // C24
    {codec::kPcmS8, "PCM 8-bit", kRPcm, kNone, 3},                                      // C25
    {codec::kPcmS16be, "PCM 16-bit", kRPcm, kNone, 3, kPcmMost},                        // C26
    {codec::kPcmS24be, "PCM 24-bit", kRPcm, kNone, 3, kPcmMost},                        // C27
    {codec::kPcmS32be, "PCM 32-bit", kRPcm, kNone, 3, kPcmMost},                        // C28
    {codec::kPcmF32be, "PCM 32-bit Float", kRPcm, kNone, 3, kPcmMost},                  // C29
    {codec::kPcmF64be, "PCM 64-bit Float", kRPcm, kNone, 3, kPcmMost},                  // C30
    {codec::kAdpcmImaQt, "IMA ADPCM (4-bit)", kRPcm, kNone, 3},                         // C31
    {codec::kGsmMs, "Microsoft GSM", kRAmr, kNone, 1},                                  // C32
    {codec::kGsm, "GSM", kRAmr, kNone, 1},                                              // C33
    {codec::kOpus, "Opus", kROpus, kBOpus, 3},                                          // C34
    {codec::kWavPack, "WavPack (lossless)", kRFlac, kNone, 3, kPcmMost},                // C35
});

// C(n) is row n of the codec table, counted from 1.
const CodecEntry* C(int n) {
    return &kCodecs[static_cast<size_t>(n - 1)];
}

std::string Upper(const char* s) {
    std::string out(s ? s : "");
    for (char& ch : out)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return out;
}

}  // namespace

std::span<const CodecEntry> CodecTable() {
    return kCodecs;
}

std::string OutputFormatEntry::DisplayLabel() const {
    return label ? std::string(label) : Upper(extension);
}

std::string OutputFormatEntry::PageTitle() const {
    return shortLabel ? std::string(shortLabel) : Upper(extension);
}

std::string OutputFormatEntry::SettingsName() const {
    return Upper(settingsPrefix ? settingsPrefix : extension);
}

bool OutputFormatEntry::HasStoredParameters() const {
    switch (formatId) {
        case FormatId::kAmr:
        case FormatId::kAwb:
        case FormatId::kWma:
        case FormatId::kWmv:
        case FormatId::kAsf:
            return false;
        default:
            return true;
    }
}

const CodecEntry* OutputFormatEntry::GoverningCodec() const {
    for (const CodecEntry* entry : allowedCodecs)
        if (entry->codecId == codecId)
            return entry;
    return nullptr;
}

void BuildOutputCatalogue(OutputCatalogue& list) {
    struct Row {
        FormatId id;
        const char* ext;
        const char* label;
        const char* shortLabel;
        const char* prefix;
        const char* container;
        int autoParams, codecId, rate, bitRate, channels;
        bool getsTags;
        std::vector<const CodecEntry*> codecs;
    };
    const char* n = nullptr;
    const std::vector<Row> rows = {
        // clang-format off
    // id, extension, label;
    //   short label, settings prefix, container, automatic, codec, rate, bit rate, channels,
    //   gets tags;
    //   the allowed codecs
        {FormatId::k3g2, "3g2", "3G2 (audio only)",
         n, n, "3g2", 0, codec::kAmrNb, 8000, 10200, 1, true,
         {C(1), C(4)}},
        {FormatId::k3gp, "3gp", "3GP (audio only)",
         n, n, "3gp", 0, codec::kAmrNb, 8000, 10200, 1, true,
         {C(1), C(4)}},
        {FormatId::kAac, "aac", n,
         n, n, "adts", 1, codec::kAac, 44100, 128000, 2, true,
         {C(4)}},
        {FormatId::kAacDevice, "m4a", "AAC for iPod / iPhone / iPad / iTunes / DSi (*.m4a)",
         "AAC for iPod/DSi", "AACDevice", "ipod", 1, codec::kAac, 44100, 128000, 2, true,
         {C(4)}},
        {FormatId::kAc3, "ac3", n,
         n, n, "ac3", 1, codec::kAc3, 44100, 128000, 2, true,
         {C(3)}},
        {FormatId::kAiff, "aiff", n,
         n, n, "aiff", 1, codec::kPcmS16be, 44100, 128000, 2, false,
         {C(25), C(26), C(27), C(28), C(29), C(30), C(18), C(19), C(31), C(33)}},
        {FormatId::kAlac, "m4a", "ALAC (Apple Lossless) (*.m4a)",
         "ALAC", "ALAC", "ipod", 1, codec::kAlac, 44100, 0, 2, true,
         {C(2)}},
        {FormatId::kAmr, "amr", n,
         n, n, n, 0, 0, 0, 0, 0, false,
         {}},
        {FormatId::kAsf, "asf", "ASF (audio only)",
         n, n, n, 0, 0, 0, 0, 0, true,
         {}},
        {FormatId::kAu, "au", n,
         n, n, "au", 1, codec::kPcmS16be, 44100, 128000, 2, false,
         {C(25), C(26), C(27), C(28), C(29), C(30), C(18), C(19)}},
        {FormatId::kAvi, "avi", "AVI (audio only)",
         n, n, "avi", 1, codec::kMp3, 44100, 128000, 2, true,
         {C(3), C(7), C(8), C(13), C(20), C(21)}},
        {FormatId::kAwb, "awb", n,
         n, n, n, 0, 0, 0, 0, 0, false,
         {}},
        {FormatId::kFlac, "flac", n,
         n, n, "flac", 1, codec::kFlac, 44100, 128000, 2, true,
         {C(11)}},
        {FormatId::kFlv, "flv", "FLV (audio only)",
         n, n, "flv", 1, codec::kMp3, 44100, 128000, 2, false,
         {C(9), C(5), C(6)}},
        {FormatId::kM4a, "m4a", "M4A (MPEG-4 audio)",
         n, n, "ipod", 1, codec::kAac, 44100, 128000, 2, true,
         {C(4), C(2)}},
        {FormatId::kM4b, "m4b", "M4B (MPEG-4 audiobook)",
         n, n, "ipod", 1, codec::kAac, 44100, 128000, 2, true,
         {C(4), C(2)}},
        {FormatId::kM4r, "m4r", "M4R (iPhone ringtone)",
         n, n, "ipod", 1, codec::kAac, 44100, 128000, 2, true,
         {C(4), C(2)}},
        {FormatId::kMka, "mka", n,
         n, n, "matroska", 1, codec::kMp2, 44100, 128000, 2, true,
         {C(4), C(3), C(7), C(8)}},
        {FormatId::kMmf, "mmf", n,
         n, n, "mmf", 1, codec::kAdpcmYamaha, 44100, 0, 2, false,
         {C(24)}},
        {FormatId::kMov, "mov", "MOV (audio only)",
         n, n, "mov", 1, codec::kAac, 44100, 128000, 2, true,
         {C(4), C(3), C(8)}},
        {FormatId::kMp2, "mp2", n,
         n, n, "mp2", 1, codec::kMp2, 44100, 128000, 2, true,
         {C(7)}},
        {FormatId::kMp3, "mp3", n,
         n, n, "mp3", 1, codec::kMp3, 44100, 128000, 2, true,
         {C(8)}},
        {FormatId::kMp4, "mp4", "MP4 (audio only)",
         n, n, "mp4", 1, codec::kAac, 44100, 128000, 2, true,
         {C(4)}},
        {FormatId::kMpa, "mpa", n,
         n, n, "mpeg", 1, codec::kMp2, 44100, 128000, 2, true,
         {C(7), C(8)}},
        {FormatId::kOgg, "ogg", n,
         n, n, "ogg", 1, codec::kVorbis, 44100, 128000, 2, true,
         {C(10), C(11)}},
        {FormatId::kOpus, "opus", "Opus",
         "Opus", n, "ogg", 0, codec::kOpus, 48000, 128000, 0, true,
         {C(34)}},
        {FormatId::kSwf, "swf", "SWF (audio only)",
         n, n, "swf", 1, codec::kMp3, 44100, 128000, 2, false,
         {C(9)}},
        {FormatId::kVoc, "voc", n,
         n, n, "voc", 0, codec::kPcmU8, 22050, 0, 1, false,
         {C(12), C(13), C(18), C(19)}},
        {FormatId::kWav, "wav", n,
         n, n, "wav", 1, codec::kPcmS16le, 44100, 128000, 2, false,
         {C(12), C(13), C(14), C(15), C(16), C(17), C(18), C(19),
          C(20), C(21), C(22), C(23), C(32), C(8)}},
        {FormatId::kWavPack, "wv", "WavPack",
         "WavPack", n, "wv", 1, codec::kWavPack, 44100, 0, 2, true,
         {C(35)}},
        {FormatId::kWma, "wma", n,
         n, n, n, 0, 0, 0, 0, 0, true,
         {}},
        {FormatId::kWmv, "wmv", "WMV (audio only)",
         n, n, n, 0, 0, 0, 0, 0, true,
         {}},
        // clang-format on
    };
    list.reserve(list.size() + rows.size());
    for (const Row& r : rows) {
        OutputFormatEntry e;
        e.formatId = r.id;
        e.autoParams = r.autoParams;
        e.codecId = r.codecId;
        e.sampleRate = r.rate;
        e.bitRate = r.bitRate;
        e.channels = r.channels;
        e.label = r.label;
        e.shortLabel = r.shortLabel;
        e.extension = r.ext;
        e.settingsPrefix = r.prefix;
        e.containerShortName = r.container;
        e.getsTags = r.getsTags;
        e.allowedCodecs = r.codecs;
        list.push_back(std::move(e));
    }
}

const OutputFormatEntry* FindOutputFormat(const OutputCatalogue& list, FormatId formatId) {
    for (const OutputFormatEntry& e : list)
        if (e.formatId == formatId)
            return &e;
    return nullptr;
}

OutputFormatEntry* FindOutputFormat(OutputCatalogue& list, FormatId formatId) {
    for (OutputFormatEntry& e : list)
        if (e.formatId == formatId)
            return &e;
    return nullptr;
}

bool KeepsSourceRate(const CodecEntry& codec, int rate) {
    if (rate < 1 || rate > codec.keepsRatesUpTo)
        return false;
    // A FLAC frame names a rate above 65535 Hz in tens of hertz.
    return codec.codecId != codec::kFlac || rate <= 65535 || rate % 10 == 0;
}

int NearestAllowed(int value, std::span<const int> list) {
    if (list.empty())
        return value;
    for (size_t i = 0; i < list.size(); ++i) {
        const int m = list[i];
        if (m == value)
            return value;
        if (m > value) {
            if (i == 0)
                return m;
            const int p = list[i - 1];
            // compare in 64 bits so extreme stored values cannot overflow
            return (static_cast<long long>(m) - value < static_cast<long long>(value) - p) ? m : p;
        }
    }
    return list.back();
}

int ApplyChannelMask(int channels, int mask) {
    if (channels == 2 && !(mask & 2))
        return 1;
    if (channels == 1 && !(mask & 1))
        return 2;
    return channels;
}

int AutoBitRate(int r, int c) {
    const bool mono = c == 1;
    if (r <= 12000)
        return mono ? 24000 : 48000;
    if (r <= 16000)
        return mono ? 32000 : 56000;
    if (r <= 24000)
        return mono ? 48000 : 64000;
    if (r <= 32000)
        return mono ? 64000 : 96000;
    if (r <= 44100)
        return mono ? 96000 : 128000;
    return mono ? 128000 : 192000;
}

int RequestedSampleRate(const OutputFormatEntry& row) {
    if (row.autoParams == 1)
        return 44100;
    return row.sampleRate < 1 ? 44100 : row.sampleRate;
}

namespace {

// The PCM codec of the row's list that keeps a source of depth whole where the row's 16-bit
// PCM would not; null when there is none or no need.
const CodecEntry* WiderPcm(const OutputFormatEntry& row, const CodecEntry& pcm16,
                           SampleDepth depth) {
    const bool little = pcm16.codecId == codec::kPcmS16le;
    if ((!little && pcm16.codecId != codec::kPcmS16be) ||
        WideFormatFor(depth) == SampleFormat::kS16)
        return nullptr;
    int wanted;
    if (depth.floating)
        wanted = little ? codec::kPcmF32le : codec::kPcmF32be;
    else if (depth.bits <= 24)
        wanted = little ? codec::kPcmS24le : codec::kPcmS24be;
    else
        wanted = little ? codec::kPcmS32le : codec::kPcmS32be;
    for (const CodecEntry* entry : row.allowedCodecs)
        if (entry->codecId == wanted)
            return entry;
    return nullptr;
}

}  // namespace

bool ResolveEncoding(const OutputFormatEntry& row, int sourceRate, int sourceChannels,
                     ResolvedEncoding& out, SampleDepth sourceDepth) {
    const CodecEntry* entry = row.GoverningCodec();
    if (!entry)
        return false;
    if (row.autoParams == 1) {
        if (const CodecEntry* wider = WiderPcm(row, *entry, sourceDepth))
            entry = wider;
    }
    out.codec = entry;
    const bool hasBitRates = !entry->bitRates.empty();
    // The source's rate where the codec keeps it losslessly, else the nearest of the list.
    const int sourceRateKept = KeepsSourceRate(*entry, sourceRate)
                                   ? sourceRate
                                   : NearestAllowed(sourceRate, entry->sampleRates);
    if (row.autoParams == 1) {
        out.channels = ApplyChannelMask(sourceChannels, entry->channelMask);
        out.sampleRate = sourceRateKept;
        out.bitRate =
            hasBitRates ? NearestAllowed(AutoBitRate(out.sampleRate, out.channels), entry->bitRates)
                        : 0;
    } else {
        out.sampleRate = row.sampleRate != 0 ? NearestAllowed(row.sampleRate, entry->sampleRates)
                                             : sourceRateKept;
        out.channels =
            ApplyChannelMask(row.channels != 0 ? row.channels : sourceChannels, entry->channelMask);
        int bitRate = row.bitRate;
        if (bitRate == 0)
            bitRate = hasBitRates ? AutoBitRate(out.sampleRate, out.channels) : 0;
        out.bitRate = NearestAllowed(bitRate, entry->bitRates);
    }
    return true;
}

}  // namespace kestrune
