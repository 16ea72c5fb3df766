#include "audio/tag_set.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <iterator>
#include <utility>

namespace kestrune {

namespace {

// The fields that belong to the album rather than to one of its tracks.
constexpr const char* kAlbumKeys[] = {"ALBUMARTIST",
                                      "ALBUMARTISTSORT",
                                      "ALBUMSORT",
                                      "ORIGINALDATE",
                                      "ORIGINALYEAR",
                                      "RELEASEDATE",
                                      "LABEL",
                                      "CATALOGNUMBER",
                                      "BARCODE",
                                      "ASIN",
                                      "RELEASECOUNTRY",
                                      "RELEASESTATUS",
                                      "RELEASETYPE",
                                      "MEDIA",
                                      "DISCSUBTITLE",
                                      "SCRIPT",
                                      "COMPILATION",
                                      "MUSICBRAINZ_ALBUMID",
                                      "MUSICBRAINZ_ALBUMARTISTID",
                                      "MUSICBRAINZ_RELEASEGROUPID"};

bool IsAlbumKey(const std::string& key) {
    for (const char* k : kAlbumKeys)
        if (key == k)
            return true;
    return false;
}

std::string Joined(const std::vector<std::string>& values) {
    std::string out;
    for (const std::string& v : values) {
        if (!out.empty())
            out += " / ";
        out += v;
    }
    return out;
}

}  // namespace

TagSet::TagSet(std::string title_, std::string artist_, std::string album_, std::string year_,
               std::string genre_, std::string comment_, std::string track_, std::string composer_,
               std::string copyright_)
    : title(std::move(title_)),
      artist(std::move(artist_)),
      album(std::move(album_)),
      year(std::move(year_)),
      genre(std::move(genre_)),
      comment(std::move(comment_)),
      track(std::move(track_)),
      composer(std::move(composer_)),
      copyright(std::move(copyright_)) {}

bool TagSet::Empty() const {
    return title.empty() && artist.empty() && album.empty() && year.empty() && genre.empty() &&
           comment.empty() && track.empty() && composer.empty() && copyright.empty();
}

bool TagSet::HasMore() const {
    return trackTotal > 0 || disc > 0 || discTotal > 0 || !pictures.empty() || !fields.empty();
}

int TrackTextToInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                               text[i] == '\r' || text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX)
            value = INT_MAX;  // saturate instead of overflowing
    }
    return static_cast<int>(negative ? -value : value);
}

int TagSet::TrackNumber() const {
    return TrackTextToInt(track);
}

const std::string& NineText(const TagSet& t, size_t index) {
    const std::string* const texts[] = {&t.title,   &t.artist, &t.album,    &t.year,     &t.genre,
                                        &t.comment, &t.track,  &t.composer, &t.copyright};
    return *texts[index];
}

bool IsNineKey(const std::string& key) {
    for (const char* k : kNineKeys)
        if (key == k)
            return true;
    // Vorbis comments keep the comment as DESCRIPTION as often as COMMENT.
    return key == "DESCRIPTION";
}

void AddSourceTags(TagSet& tags, const TagSet& source, bool nineFromSource) {
    for (const auto& [key, values] : source.fields) {
        if (values.empty())
            continue;
        const auto nine = std::find(std::begin(kNineKeys), std::end(kNineKeys), key);
        if (nine == std::end(kNineKeys)) {
            if (nineFromSource || key != "DESCRIPTION")
                tags.fields[key] = values;
            continue;
        }
        if (!nineFromSource || key == "TRACKNUMBER")
            continue;
        const std::string& text =
            NineText(tags, static_cast<size_t>(std::distance(std::begin(kNineKeys), nine)));
        if (text.empty())
            continue;  // the reader found none: the output gets what it has always got
        const bool several = values.size() > 1;
        const bool exacterDate = key == "DATE" && values[0].size() > text.size() &&
                                 values[0].compare(0, text.size(), text) == 0;
        if (several || exacterDate)
            tags.fields[key] = values;
    }
    if (nineFromSource)
        tags.trackTotal = source.trackTotal;
    tags.disc = source.disc;
    tags.discTotal = source.discTotal;
    tags.pictures.insert(tags.pictures.end(), source.pictures.begin(), source.pictures.end());
}

TagSet AlbumTags(const TagSet& source) {
    TagSet tags;
    const std::pair<const char*, std::string*> texts[] = {{"ALBUM", &tags.album},
                                                          {"DATE", &tags.year},
                                                          {"GENRE", &tags.genre},
                                                          {"COPYRIGHT", &tags.copyright}};
    for (const auto& [key, text] : texts) {
        const auto it = source.fields.find(key);
        if (it == source.fields.end() || it->second.empty())
            continue;
        *text = Joined(it->second);
        if (it->second.size() > 1)
            tags.fields[key] = it->second;
    }
    AddAlbumTags(tags, source);
    return tags;
}

void AddAlbumTags(TagSet& tags, const TagSet& source) {
    for (const auto& [key, values] : source.fields)
        if (!values.empty() && IsAlbumKey(key))
            tags.fields[key] = values;
    tags.disc = source.disc;
    tags.discTotal = source.discTotal;
    tags.pictures.insert(tags.pictures.end(), source.pictures.begin(), source.pictures.end());
}

void DropReplayGain(TagSet& tags) {
    std::erase_if(tags.fields, [](const auto& field) {
        return field.first.rfind("REPLAYGAIN_", 0) == 0 || field.first.rfind("R128_", 0) == 0;
    });
}

}  // namespace kestrune
