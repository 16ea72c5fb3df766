#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tpropertymap.h>

#include <cstring>

#include "platform/bass/layer_decoders.h"

namespace kestrune::bass {

namespace {

std::string Field(const TagLib::PropertyMap& map, const char* key) {
    const auto it = map.find(key);
    if (it == map.end() || it->second.isEmpty())
        return {};
    // Several values of one field are shown together, as one text.
    return it->second.toString(" / ").to8Bit(true);
}

}  // namespace

std::string FormatTags(const std::string& path, const std::string& fmt) {
    TagLib::FileRef ref(path.c_str(), false);
    if (ref.isNull() || !ref.file()->isValid())
        return {};
    const TagLib::PropertyMap map = ref.file()->properties();
    struct Code {
        const char* code;
        const char* key;
    };
    static const Code kCodes[] = {
        {"TRCK", "TRACKNUMBER"}, {"TITL", "TITLE"},    {"ARTI", "ARTIST"},
        {"ALBM", "ALBUM"},       {"GNRE", "GENRE"},    {"YEAR", "DATE"},
        {"CMNT", "COMMENT"},     {"COMP", "COMPOSER"}, {"COPY", "COPYRIGHT"}};
    std::string out;
    bool any = false;
    for (size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] == '%' && i + 4 < fmt.size() + 1) {
            const Code* match = nullptr;
            for (const Code& c : kCodes)
                if (fmt.compare(i + 1, 4, c.code) == 0)
                    match = &c;
            if (match) {
                std::string value = Field(map, match->key);
                // Some formats keep the comment under another name (DESCRIPTION in Vorbis
                // comments): the tag's own comment covers them all.
                if (value.empty() && std::strcmp(match->code, "CMNT") == 0 && ref.tag())
                    value = ref.tag()->comment().to8Bit(true);
                any = any || !value.empty();
                out += value;
                i += 4;
                continue;
            }
        }
        out += fmt[i];
    }
    return any ? out : std::string();
}

}  // namespace kestrune::bass
