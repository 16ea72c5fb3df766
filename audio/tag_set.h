#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kestrune {

// A picture that a file's tags carry: the cover, the back of the case, the artist's photo.
struct TagPicture {
    int type = 3;  // numbered as ID3v2 numbers them (APIC): 3 the front cover, 4 the back, 0 other
    std::string mimeType;  // "image/jpeg"; empty when the file does not say
    std::string description;
    std::vector<uint8_t> data;

    bool operator==(const TagPicture&) const = default;
};

inline constexpr int kFrontCover = 3;
// A picture larger than this is left out: no cover needs it, and a damaged or hostile file may
// claim gigabytes.
inline constexpr size_t kLargestPicture = size_t{16} << 20;

// What describes a recording: the nine texts that every reader fills and every writer takes,
// and beside them everything else a source's tags hold.
struct TagSet {
    TagSet() = default;
    // The nine texts, in the reader order.
    TagSet(std::string title, std::string artist, std::string album, std::string year,
           std::string genre, std::string comment, std::string track, std::string composer,
           std::string copyright);

    std::string title, artist, album, year, genre, comment, track, composer, copyright;

    // The number of tracks, and the disc's number with the number of discs; 0 when unknown.
    int trackTotal = 0;
    int disc = 0;
    int discTotal = 0;
    std::vector<TagPicture> pictures;
    // Every other named field with all its values, under the names TagLib's property maps give
    // them (ALBUMARTIST, ARTISTSORT, MUSICBRAINZ_TRACKID, ISRC, LABEL, BPM, LYRICS,
    // REPLAYGAIN_TRACK_GAIN, ...). A field named like one of the nine (ARTIST, DATE, ...) holds
    // that field where its text falls short: several values, or a date more exact than the
    // text's.
    std::map<std::string, std::vector<std::string>> fields;

    // True when the nine texts are all empty (whatever else the set holds).
    bool Empty() const;
    // True when the set holds anything beyond the nine texts.
    bool HasMore() const;
    // The track text as a number, by TrackTextToInt.
    int TrackNumber() const;
};

// The decimal rule for track texts: optional leading blanks and sign, then digits up to the
// first other character; no digits gives 0 ("7/12" gives 7).
int TrackTextToInt(const std::string& text);

// The property names of the nine texts, in the reader order (TITLE, ARTIST, ALBUM, DATE, GENRE,
// COMMENT, TRACKNUMBER, COMPOSER, COPYRIGHT), and the text each names in a set.
inline constexpr const char* kNineKeys[] = {
    "TITLE", "ARTIST", "ALBUM", "DATE", "GENRE", "COMMENT", "TRACKNUMBER", "COMPOSER", "COPYRIGHT"};
const std::string& NineText(const TagSet& tags, size_t index);
// True when key names one of the nine fields (or a name that stands for one of them).
bool IsNineKey(const std::string& key);

// Adds to tags what source (as the file tag reader gives it: fields and pictures, no texts)
// holds beyond the nine texts. With nineFromSource the nine texts came from the same file:
// where source holds one of them more fully (several values, a more exact date), that is kept
// too. Without it the nine are someone else's (the custom tag), so the source's nine fields
// and its track total are left out.
void AddSourceTags(TagSet& tags, const TagSet& source, bool nineFromSource);

// What a file made of several sources takes from its first one: the album's texts (album,
// year, genre, copyright), its other album fields, the disc and the pictures.
TagSet AlbumTags(const TagSet& source);
// The album part of source added to tags, whose nine texts stay as they are.
void AddAlbumTags(TagSet& tags, const TagSet& source);

// Leaves out the ReplayGain fields: they describe the source's loudness, which a gain changes.
void DropReplayGain(TagSet& tags);

}  // namespace kestrune
