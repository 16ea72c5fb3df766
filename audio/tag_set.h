#pragma once

#include <string>

namespace kestrune {

class AudioReader;
class AudioWriter;

// The nine texts that describe a recording.
struct TagSet {
    std::string title, artist, album, year, genre, comment, track, composer, copyright;

    bool Empty() const;
};

// The decimal rule for track texts: optional leading blanks and sign, then digits up to the
// first other character; no digits gives 0 ("7/12" gives 7).
int TrackTextToInt(const std::string& text);

// ReadTags in reader order into a TagSet; returns what ReadTags returned.
int ReadTagsInto(AudioReader& reader, TagSet& tags);

// SetTags in writer order (year and genre swapped, the track as a number at the end).
void SetTagsFrom(AudioWriter& writer, const TagSet& tags);

}  // namespace kestrune
