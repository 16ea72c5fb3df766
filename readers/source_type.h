#pragma once

#include <cstdint>
#include <string>

#include "audio/sample_format.h"
#include "audio/tag_set.h"

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

// A track of a disc image, cut from it where its cue sheet says.
struct ImageTrack {
    int number = 0;  // 0: the row is a whole file
    // The sheet (a .cue, or the image when the sheet is inside it).
    std::string sheetPath;
    // "NN - Title": the track's name in the list and of its output.
    std::string name;
    // In CD frames (1/75 s) from the start of the image; endFrames -1: to the image's end.
    int64_t startFrames = 0;
    int64_t endFrames = -1;
    // The positions are samples, not CD frames (a FLAC image's own CUESHEET block).
    bool inSamples = false;
    // What the sheet says of the track and its disc.
    TagSet tags;
};

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
    // For a track of an image (path is the image's path).
    ImageTrack track;
};

// The path an output is named after: the source's own, or for a track of an image its name in
// the image's folder.
std::string NamingPath(const SourceFileEntry& entry);

// The texts of the file list's columns, shared by the window and kestrune-cli probe.
struct ColumnTexts {
    std::string file, duration, bitRate, sampleRate, channels;
};
std::string DurationText(int seconds);
std::string ChannelsText(int channels);
ColumnTexts ColumnTextsOf(const SourceFileEntry& entry);

}  // namespace kestrune
