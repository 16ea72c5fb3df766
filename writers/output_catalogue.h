#pragma once

#include <span>
#include <string>
#include <vector>

#include "audio/sample_format.h"

namespace kestrune {

// Codec ids: the libavcodec 52 numbering (stored in the settings as they are).
namespace codec {
constexpr int kPcmS16le = 0x10000;
constexpr int kPcmS16be = 0x10001;
constexpr int kPcmS8 = 0x10004;
constexpr int kPcmU8 = 0x10005;
constexpr int kPcmMulaw = 0x10006;
constexpr int kPcmAlaw = 0x10007;
constexpr int kPcmS32le = 0x10008;
constexpr int kPcmS32be = 0x10009;
constexpr int kPcmS24le = 0x1000C;
constexpr int kPcmS24be = 0x1000D;
constexpr int kPcmF32be = 0x10014;
constexpr int kPcmF32le = 0x10015;
constexpr int kPcmF64be = 0x10016;
constexpr int kPcmF64le = 0x10017;
constexpr int kAdpcmImaQt = 0x11000;
constexpr int kAdpcmImaWav = 0x11001;
constexpr int kAdpcmMs = 0x11006;
constexpr int kAdpcmG726 = 0x1100B;
constexpr int kAdpcmSwf = 0x1100D;
constexpr int kAdpcmYamaha = 0x1100E;
constexpr int kAmrNb = 0x12000;
constexpr int kMp2 = 0x15000;
constexpr int kMp3 = 0x15001;
constexpr int kAac = 0x15002;
constexpr int kAc3 = 0x15003;
constexpr int kVorbis = 0x15005;
constexpr int kFlac = 0x1500E;
constexpr int kMp3On4 = 0x15010;
constexpr int kAlac = 0x15012;
constexpr int kGsm = 0x15014;
constexpr int kGsmMs = 0x15020;
// Opus came after the numbering above: FFmpeg's own number for it, which no code above takes.
constexpr int kOpus = 0x1503C;
constexpr int kWavPack = 0x15019;  // FFmpeg's number, as for Opus
}  // namespace codec

// One codec choice with what it accepts. An empty bitRates span means the codec has no
// bit-rate choice (for G.726 the list holds bits per sample).
struct CodecEntry {
    int codecId;
    const char* label;
    std::span<const int> sampleRates;
    std::span<const int> bitRates;
    int channelMask;  // bit 0: mono allowed, bit 1: stereo allowed
    // A lossless codec that stores any rate up to this one: when the rate is the program's to
    // choose, the source's is kept rather than brought to a rate of the list. 0: the list only.
    int keepsRatesUpTo = 0;
};

// True when the codec keeps a source of this rate at its own rate (see keepsRatesUpTo).
bool KeepsSourceRate(const CodecEntry& codec, int rate);

// The codec table, in its order.
std::span<const CodecEntry> CodecTable();

// The id of each output format row, as the settings store keeps it ("OutputFormat"). A type of
// its own, so that a source type cannot be passed where a format id is wanted.
enum class FormatId : int {
    k3g2 = 8300,
    k3gp = 8350,
    kAac = 6000,
    kAacDevice = 6100,  // "m4a" for portable players
    kAc3 = 3400,
    kAiff = 5100,
    kAlac = 6200,
    kAmr = 5500,
    kAsf = 7300,
    kAu = 5000,
    kAvi = 8000,
    kAwb = 5600,
    kFlac = 3200,
    kFlv = 3650,
    kM4a = 6500,
    kM4b = 6700,
    kM4r = 6800,
    kMka = 1400,
    kMmf = 1500,
    kMov = 8100,
    kMp2 = 1100,
    kMp3 = 1000,
    kMp4 = 6600,
    kMpa = 1200,
    kOgg = 4000,
    kOpus = 4100,
    kSwf = 8200,
    kVoc = 8400,
    kWav = 2000,
    kWavPack = 4200,
    kWma = 7100,
    kWmv = 7200,
    kVideo = 10000,  // the output-format box's extra item, not a row
};

// The number the settings store keeps for an id.
constexpr int StoredValue(FormatId id) {
    return static_cast<int>(id);
}

// One output format row. Fields autoParams..channels are the editable, stored part.
struct OutputFormatEntry {
    FormatId formatId{};
    int autoParams = 0;  // 1: derive rate, channels and bit rate from the source
    int codecId = 0;
    int sampleRate = 0;  // manual: 0 means the source's rate
    int bitRate = 0;     // manual: 0 means automatic; G.726: bits per sample
    int channels = 0;    // manual: 0 means the source's channel count
    const char* label = nullptr;
    const char* shortLabel = nullptr;
    const char* extension = "";
    const char* settingsPrefix = nullptr;
    const char* containerShortName = nullptr;  // null for rows not written by FFmpeg
    bool getsTags = true;                      // false for the formats whose files never carry tags
    std::vector<const CodecEntry*> allowedCodecs;

    // Label shown in the output-format box: the label, or the upper-cased extension.
    std::string DisplayLabel() const;
    // Title of the row's options page: the short label, or the upper-cased extension.
    std::string PageTitle() const;
    // Upper-cased settings prefix (or extension): "MP3", "AACDEVICE", "ALAC", ...
    std::string SettingsName() const;
    // False for AMR, AWB and the Windows Media rows, whose parameters live elsewhere.
    bool HasStoredParameters() const;
    bool UsesFFmpegWriter() const { return containerShortName != nullptr; }
    // The first allowed codec whose id equals codecId, or null.
    const CodecEntry* GoverningCodec() const;
};

using OutputCatalogue = std::vector<OutputFormatEntry>;

// The rows the Windows Media layer writes.
inline bool IsWindowsMediaFormat(FormatId formatId) {
    return formatId == FormatId::kWma || formatId == FormatId::kWmv || formatId == FormatId::kAsf;
}

// Appends the rows, in order, with their defaults.
void BuildOutputCatalogue(OutputCatalogue& list);
const OutputFormatEntry* FindOutputFormat(const OutputCatalogue& list, FormatId formatId);
OutputFormatEntry* FindOutputFormat(OutputCatalogue& list, FormatId formatId);

// The allowed value nearest to value (a tie goes to the lower one); an empty list returns
// value unchanged.
int NearestAllowed(int value, std::span<const int> list);
int ApplyChannelMask(int channels, int mask);
int AutoBitRate(int sampleRate, int channels);

// The rate at which the source reader is opened for a row: 44100 in automatic mode, else
// the row's rate, or 44100 when that is below 1.
int RequestedSampleRate(const OutputFormatEntry& row);

struct ResolvedEncoding {
    const CodecEntry* codec = nullptr;
    int sampleRate = 0;
    int channels = 0;
    int bitRate = 0;
};

// Resolves codec, rate, channels and bit rate of one conversion to an FFmpeg row from the
// source's delivered rate and channel count. The codec is the row's, except that in automatic
// mode a row of 16-bit PCM takes the PCM of the same byte order among its codecs that keeps a
// wider source whole (24 or 32 bits, or 32-bit floats). Returns false when the row's codec id
// is not in its allowed list (no writer can be made).
bool ResolveEncoding(const OutputFormatEntry& row, int sourceRate, int sourceChannels,
                     ResolvedEncoding& out, SampleDepth sourceDepth = {});

}  // namespace kestrune
