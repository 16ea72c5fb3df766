#include "audio/tag_set.h"

#include <cctype>
#include <climits>

namespace kestrune {

bool TagSet::Empty() const {
    return title.empty() && artist.empty() && album.empty() && year.empty() && genre.empty() &&
           comment.empty() && track.empty() && composer.empty() && copyright.empty();
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

}  // namespace kestrune
