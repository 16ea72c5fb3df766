#include "writers/utf8_text.h"

#include <algorithm>
#include <cstdint>

namespace kestrune {

std::string RepairUtf8(const std::string& text) {
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        int extra;
        uint32_t cp;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, cp = c & 0x07;
        } else {
            out += kReplacement;
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= static_cast<size_t>(extra) && i + j < n; ++j) {
            if ((p[i + j] & 0xC0) != 0x80)
                break;
            cp = (cp << 6) | (p[i + j] & 0x3F);
        }
        const bool complete = j == static_cast<size_t>(extra) + 1;
        // Overlong forms, surrogates and values past U+10FFFF are not text either.
        const bool valid = complete && !(extra == 2 && cp < 0x800) &&
                           !(extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) &&
                           !(cp >= 0xD800 && cp <= 0xDFFF);
        if (valid) {
            out.append(text, i, j);
        } else {
            out += kReplacement;
        }
        i += complete ? j : std::max<size_t>(j, 1);
    }
    return out;
}

}  // namespace kestrune
