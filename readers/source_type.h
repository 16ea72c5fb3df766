#pragma once

#include <string>

namespace kestrune {

// The kind of a source, chosen from the lower-cased extension of its file name.
namespace source {
constexpr int kMp3 = 1000;
constexpr int kWav = 2000;
constexpr int kTracker = 3000;
constexpr int kMidi = 3050;
constexpr int kCdAudio = 3100;
constexpr int kFlac = 3200;
constexpr int kWavPack = 3300;
constexpr int kAdx = 3500;
constexpr int kOgg = 4000;
constexpr int kAu = 5000;
constexpr int kAiff = 5100;
constexpr int kAmr = 5500;
constexpr int kAac = 6000;
constexpr int kMp4 = 6600;
constexpr int kWindowsMedia = 7000;
constexpr int kOther = 9000;
constexpr int kDts = 9500;
}  // namespace source

// The file name: what follows the last "/" of the path (the whole path when there is none).
std::string FileNameOf(const std::string& path);
// The extension of the file name with its dot, lower-cased; empty when the name has no dot.
std::string ExtensionOf(const std::string& path);
int SourceTypeOf(const std::string& path);

// One row of the file list.
struct SourceFileEntry {
    std::string path;
    int sourceChannels = 0;
    int sampleRate = 0;  // Hz
    int bitRate = 0;     // kbit/s
    int duration = 0;    // whole seconds
    int sourceType = source::kOther;
    std::string outputPath;
};

// The texts of the file list's columns, shared by the window and kestrune-cli probe.
struct ColumnTexts {
    std::string file, duration, bitRate, sampleRate, channels;
};
std::string DurationText(int seconds);
std::string ChannelsText(int channels);
ColumnTexts ColumnTextsOf(const SourceFileEntry& entry);

}  // namespace kestrune
