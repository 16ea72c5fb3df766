#pragma once

#include <string>

#include "audio/sample_format.h"

namespace kestrune {

// The kind of a source, chosen from the lower-cased extension of its file name. A type of its
// own, so that it cannot be taken for an output format id (some numbers are alike).
enum class SourceType : int {
    kMp3 = 1000,
    kWav = 2000,
    kTracker = 3000,
    kMidi = 3050,
    kCdAudio = 3100,
    kFlac = 3200,
    kWavPack = 3300,
    kAdx = 3500,
    kOgg = 4000,
    kAu = 5000,
    kAiff = 5100,
    kAmr = 5500,
    kAac = 6000,
    kMp4 = 6600,
    kWindowsMedia = 7000,
    kOther = 9000,
    kDts = 9500,
};

// The file name: what follows the last "/" of the path (the whole path when there is none).
std::string FileNameOf(const std::string& path);
// The extension of the file name with its dot, lower-cased; empty when the name has no dot.
std::string ExtensionOf(const std::string& path);
SourceType SourceTypeOf(const std::string& path);

// One row of the file list.
struct SourceFileEntry {
    std::string path;
    int sourceChannels = 0;
    int sampleRate = 0;  // Hz
    int bitRate = 0;     // kbit/s
    int duration = 0;    // whole seconds
    SampleDepth depth;   // the source's own samples, where the file says
    SourceType sourceType = SourceType::kOther;
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
