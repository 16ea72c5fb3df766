#pragma once

#include <string>

namespace kestrune {

// The nine texts that describe a recording.
struct TagSet {
    std::string title, artist, album, year, genre, comment, track, composer, copyright;

    bool Empty() const;
    // The track text as a number, by TrackTextToInt.
    int TrackNumber() const;
};

// The decimal rule for track texts: optional leading blanks and sign, then digits up to the
// first other character; no digits gives 0 ("7/12" gives 7).
int TrackTextToInt(const std::string& text);

}  // namespace kestrune
