#pragma once
// Cue sheets: the track list of a disc image, read with bounds of our own.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// A sheet larger than this is no track list; its size alone refuses it, before it is read.
inline constexpr int64_t kLargestCueSheet = int64_t{1} << 20;
// A disc holds at most 99 tracks.
inline constexpr int kMostCueTracks = 99;
// Positions in a sheet are in CD frames, 75 to a second.
inline constexpr int kCueFramesPerSecond = 75;

struct CueTrack {
    int number = 0;
    // The FILE in effect at the track's INDEX 01, as the sheet names it.
    std::string file;
    // In CD frames from the start of that file (samples when the sheet says so); -1 when the
    // sheet gives none.
    int64_t index00 = -1;
    int64_t index01 = -1;
    std::string title, performer, songwriter, isrc;
};

struct CueSheet {
    std::string title, performer, songwriter, genre, date, comment;
    int disc = 0;
    std::vector<CueTrack> tracks;
    // The positions are samples of the image, not CD frames (FLAC's own CUESHEET block).
    bool inSamples = false;
};

enum class CueError {
    kNone,
    kTooLarge,       // over kLargestCueSheet
    kTooManyTracks,  // over kMostCueTracks
    kNoTracks,       // no track with an INDEX 01 (an empty sheet)
    kBadLine,        // a FILE, TRACK or INDEX that cannot be read; detail: the line's number
    kUnreadable,     // the file cannot be read
};

struct CueParse {
    CueSheet sheet;
    CueError error = CueError::kNone;
    std::string detail;
};

// The sheet's bytes as UTF-8: UTF-8 with or without its BOM, UTF-16 with its BOM, and anything
// else as Windows-1252.
std::string CueTextToUtf8(std::string_view bytes);

// Reads a sheet's text (any encoding CueTextToUtf8 takes).
CueParse ParseCueSheet(std::string_view bytes);
// Reads the sheet at path; one over kLargestCueSheet is refused unread.
CueParse ReadCueSheet(const std::string& path);

// The sample at which a position in CD frames falls at rate. Rounded down: exact wherever the
// rate is a multiple of 75 (44.1, 48, 96 kHz ...), and for other rates every caller gets the
// same sample for the same position, so the end of one track is the start of the next and no
// sample is lost or doubled between them.
inline int64_t CueFramesToSamples(int64_t frames, int rate) {
    return frames / kCueFramesPerSecond * rate +
           frames % kCueFramesPerSecond * rate / kCueFramesPerSecond;
}

}  // namespace kestrune
