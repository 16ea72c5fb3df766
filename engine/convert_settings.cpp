#include "engine/convert_settings.h"

#include <sched.h>

#include <algorithm>
#include <thread>

#include "audio/utf8_text.h"

namespace kestrune {

int UsableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

TagSet CustomTagSet(const TagOptions& o, const std::string& title, int track) {
    TagSet tags;
    tags.title = title;
    tags.artist = o.artist;
    tags.album = o.album;
    tags.year = o.year;
    tags.genre = o.genre;
    tags.comment = o.comment;
    tags.track = track != 0 ? std::to_string(track) : std::string();
    tags.composer = o.composer;
    tags.copyright = o.copyright;
    return tags;
}

void ParseFilterExts(ConvertSettings& settings) {
    settings.filterExtList.clear();
    if (!settings.enableExtFilter)
        return;

    std::string text = settings.filterExts;
    std::erase(text, ' ');
    std::replace(text.begin(), text.end(), ';', ',');
    text = LowerUtf8(text);

    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            settings.filterExtList.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace kestrune
