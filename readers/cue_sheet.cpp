#include "readers/cue_sheet.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <memory>

#include "audio/utf8_text.h"

namespace kestrune {

namespace {

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    auto unit = [&](size_t i) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return static_cast<uint32_t>(bigEndian ? (a << 8 | b) : (b << 8 | a));
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
            const uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            } else {
                c = 0xFFFD;
            }
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // a lone half of a pair
        }
        AppendUtf8(out, c);
    }
    return out;
}

// Windows-1252's letters in 0x80..0x9F; the rest of the high half is Latin-1.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        AppendUtf8(out, c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c);
    }
    return out;
}

// One line split into its words; a quoted word keeps its blanks.
std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            break;
        std::string word;
        if (line[i] == '"') {
            const size_t close = line.find('"', i + 1);
            const size_t end = close == std::string_view::npos ? line.size() : close;
            word = line.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                word.push_back(line[i++]);
        }
        words.push_back(std::move(word));
    }
    return words;
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A number of at most maxDigits digits, or -1.
int64_t Number(std::string_view text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits)
        return -1;
    int64_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// MM:SS:FF in CD frames, or -1. Minutes may pass 99: images run longer than a disc.
int64_t Position(std::string_view text) {
    const size_t a = text.find(':');
    const size_t b = a == std::string_view::npos ? a : text.find(':', a + 1);
    if (b == std::string_view::npos)
        return -1;
    const int64_t mm = Number(text.substr(0, a), 6);
    const int64_t ss = Number(text.substr(a + 1, b - a - 1), 2);
    const int64_t ff = Number(text.substr(b + 1), 2);
    if (mm < 0 || ss < 0 || ss >= 60 || ff < 0 || ff >= kCueFramesPerSecond)
        return -1;
    return (mm * 60 + ss) * kCueFramesPerSecond + ff;
}

}  // namespace

std::string CueTextToUtf8(std::string_view bytes) {
    auto starts = [&](std::string_view bom) { return bytes.substr(0, bom.size()) == bom; };
    if (starts("\xEF\xBB\xBF"))
        return RepairUtf8(bytes.substr(3));
    if (starts("\xFF\xFE"))
        return Utf16ToUtf8(bytes.substr(2), false);
    if (starts("\xFE\xFF"))
        return Utf16ToUtf8(bytes.substr(2), true);
    std::string text(bytes);
    return IsValidUtf8(text) ? text : Cp1252ToUtf8(bytes);
}

CueParse ParseCueSheet(std::string_view bytes) {
    CueParse result;
    if (static_cast<int64_t>(bytes.size()) > kLargestCueSheet) {
        result.error = CueError::kTooLarge;
        return result;
    }
    const std::string text = CueTextToUtf8(bytes);
    CueSheet& sheet = result.sheet;
    std::string file;
    int tracksSeen = 0;
    bool inTrack = false;
    bool audioTrack = false;
    size_t trackLine = 0;
    auto bad = [&](size_t lineNumber) {
        result.error = CueError::kBadLine;
        result.detail = std::to_string(lineNumber);
        result.sheet = {};
        return result;
    };
    // A track is kept once it is whole: audio, with its INDEX 01 not before the track before
    // it in the same file.
    auto finishTrack = [&]() {
        if (!inTrack || !audioTrack)
            return true;
        const CueTrack& t = sheet.tracks.back();
        if (t.index01 < 0)
            return false;
        if (sheet.tracks.size() >= 2) {
            const CueTrack& before = sheet.tracks[sheet.tracks.size() - 2];
            if (before.file == t.file && before.index01 >= t.index01)
                return false;
        }
        return true;
    };

    size_t lineNumber = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line = std::string_view(text).substr(at, end - at);
        at = end + 1;
        if (end < text.size() && text[end] == '\r' && at < text.size() && text[at] == '\n')
            ++at;
        ++lineNumber;
        std::vector<std::string> w = Words(line);
        if (w.empty())
            continue;
        const std::string key = Upper(w[0]);
        if (key == "FILE") {
            if (w.size() < 2 || w[1].empty())
                return bad(lineNumber);
            file = w[1];
        } else if (key == "TRACK") {
            if (!finishTrack())
                return bad(trackLine);
            if (++tracksSeen > kMostCueTracks) {
                result.error = CueError::kTooManyTracks;
                result.sheet = {};
                return result;
            }
            const int64_t number = w.size() >= 2 ? Number(w[1], 2) : -1;
            if (number < 1 || file.empty())
                return bad(lineNumber);
            inTrack = true;
            trackLine = lineNumber;
            // Data tracks of a mixed disc hold no audio to list.
            audioTrack = w.size() < 3 || Upper(w[2]) == "AUDIO";
            if (audioTrack) {
                sheet.tracks.emplace_back();
                sheet.tracks.back().number = static_cast<int>(number);
                sheet.tracks.back().file = file;
            }
        } else if (key == "INDEX") {
            const int64_t number = w.size() >= 3 ? Number(w[1], 2) : -1;
            const int64_t position = w.size() >= 3 ? Position(w[2]) : -1;
            if (!inTrack || number < 0 || position < 0)
                return bad(lineNumber);
            if (!audioTrack)
                continue;
            CueTrack& t = sheet.tracks.back();
            if (number == 0) {
                t.index00 = position;
            } else if (number == 1) {
                t.index01 = position;
                t.file = file;
            }
        } else if (key == "PREGAP" || key == "POSTGAP") {
            // Silence the image does not hold: read to check the sheet, nothing of it is cut.
            if (!inTrack || w.size() < 2 || Position(w[1]) < 0)
                return bad(lineNumber);
        } else if (key == "TITLE" || key == "PERFORMER" || key == "SONGWRITER" || key == "ISRC") {
            const std::string value = w.size() >= 2 ? w[1] : std::string();
            if (inTrack && !audioTrack)
                continue;
            CueTrack* t = inTrack ? &sheet.tracks.back() : nullptr;
            if (key == "TITLE")
                (t ? t->title : sheet.title) = value;
            else if (key == "PERFORMER")
                (t ? t->performer : sheet.performer) = value;
            else if (key == "SONGWRITER")
                (t ? t->songwriter : sheet.songwriter) = value;
            else if (t)
                t->isrc = value;
        } else if (key == "REM" && w.size() >= 3 && !inTrack) {
            const std::string what = Upper(w[1]);
            // A value of several words was written without quotes: take the rest of the line.
            std::string value = w[2];
            for (size_t i = 3; i < w.size(); ++i)
                value += " " + w[i];
            if (what == "GENRE")
                sheet.genre = value;
            else if (what == "DATE")
                sheet.date = value;
            else if (what == "COMMENT")
                sheet.comment = value;
            else if (what == "DISCNUMBER")
                sheet.disc = static_cast<int>(std::max<int64_t>(0, Number(w[2], 3)));
        }
    }
    if (!finishTrack())
        return bad(trackLine);
    if (sheet.tracks.empty()) {
        result.error = CueError::kNoTracks;
        result.sheet = {};
    }
    return result;
}

CueParse ReadCueSheet(const std::string& path) {
    CueParse result;
    struct stat st {};
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f || fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
        result.error = CueError::kUnreadable;
        return result;
    }
    if (st.st_size > kLargestCueSheet) {
        result.error = CueError::kTooLarge;
        return result;
    }
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), f.get());
    bytes.resize(got);
    return ParseCueSheet(bytes);
}

}  // namespace kestrune
