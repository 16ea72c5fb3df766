#include "readers/wav_info_tags.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/id3_genres.h"
#include "audio/utf8_text.h"
#include "common/byte_order.h"

namespace kestrune {

namespace {

constexpr uint32_t kBodyLimit = 0xA00000;  // 10 MiB of INFO or DISP are plenty
constexpr size_t kSpare = 1024;            // zeros after the INFO body keep the parser inside

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool IsAlpha(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Text up to the first zero byte, made valid UTF-8. An empty body may come with no buffer.
std::string Text(const uint8_t* data, size_t size) {
    if (size == 0)
        return {};
    const auto* end = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    return RepairUtf8(std::string(reinterpret_cast<const char*>(data),
                                  end ? static_cast<size_t>(end - data) : size));
}

bool Skip(std::FILE* f, int64_t bytes) {
    return bytes <= 0 || fseeko(f, bytes, SEEK_CUR) == 0;
}

// Bytes from the read position to the end of the file: a chunk's declared size can be far
// larger, and no buffer is made bigger than what the file holds.
int64_t BytesLeft(std::FILE* f, int64_t fileSize) {
    const off_t at = ftello(f);
    return at < 0 ? 0 : std::max<int64_t>(fileSize - at, 0);
}

// A "(n)" genre text names entry n of the ID3v1 list.
void ResolveGenre(std::string& genre, int genreIndex) {
    const auto& names = Id3v1Genres();
    if (genre.size() >= 2 && genre[0] == '(' && genre[1] >= '0' && genre[1] <= '9') {
        long n = 0;
        for (size_t i = 1; i < genre.size() && genre[i] >= '0' && genre[i] <= '9' && n < 1000; ++i)
            n = n * 10 + (genre[i] - '0');
        if (n >= 0 && n < static_cast<long>(names.size()))
            genre = std::string(names[static_cast<size_t>(n)]);
    }
    if (genre.empty() && genreIndex >= 0 && genreIndex < static_cast<int>(names.size()))
        genre = std::string(names[static_cast<size_t>(genreIndex)]);
}

}  // namespace

int ReadWavInfoTags(const std::string& path, TagSet& tags) {
    tags = TagSet{};
    std::string& title = tags.title;
    std::string& artist = tags.artist;
    std::string& album = tags.album;
    std::string& date = tags.year;
    std::string& genre = tags.genre;
    std::string& comment = tags.comment;
    std::string& track = tags.track;
    std::string& copyright = tags.copyright;

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return 0;
    std::FILE* f = file.get();
    int64_t fileSize = 0;
    if (fseeko(f, 0, SEEK_END) != 0 || (fileSize = ftello(f)) < 0 || fseeko(f, 0, SEEK_SET) != 0)
        return 0;
    uint8_t head[12];
    if (std::fread(head, 1, 12, f) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return 0;

    int result = 0;
    std::vector<uint8_t> info;
    size_t infoEnd = 0;
    std::string dispText;
    bool haveDisp = false;

    // Every pass consumes at least one byte of the file, so the walk ends with it.
    for (;;) {
        int c;
        while ((c = std::fgetc(f)) != EOF && !IsAlpha(static_cast<uint8_t>(c))) {
        }
        if (c == EOF)
            break;
        uint8_t hdr[8];
        hdr[0] = static_cast<uint8_t>(c);
        if (std::fread(hdr + 1, 1, 7, f) != 7)
            break;
        const uint32_t size = LoadLe32(hdr + 4);

        if (std::memcmp(hdr, "LIST", 4) == 0) {
            uint8_t type[4];
            if (std::fread(type, 1, 4, f) != 4)
                break;
            if (std::memcmp(type, "INFO", 4) == 0) {
                const auto kept = static_cast<uint32_t>(
                    std::min<int64_t>({size, kBodyLimit, 4 + BytesLeft(f, fileSize)}));
                const size_t want = kept > 4 ? kept - 4 : 0;
                info.assign(kept + kSpare, 0);
                infoEnd = std::fread(info.data(), 1, want, f);
                // What lies beyond the limit is passed over, not parsed as chunks.
                if (infoEnd < want || !Skip(f, int64_t{size} - 4 - static_cast<int64_t>(want)))
                    break;
            } else if (!Skip(f, int64_t{size} - 4)) {
                break;
            }
        } else if (std::memcmp(hdr, "DISP", 4) == 0 && size >= 5) {
            uint8_t type[4];
            if (std::fread(type, 1, 4, f) != 4)
                break;
            if (LoadLe32(type) == 1) {
                const auto textSize = static_cast<uint32_t>(
                    std::min<int64_t>({size - 4, kBodyLimit, BytesLeft(f, fileSize)}));
                std::vector<uint8_t> text(textSize);
                const size_t got = std::fread(text.data(), 1, textSize, f);
                dispText = Text(text.data(), got);
                haveDisp = true;
                result = 1;
                if (got < textSize || !Skip(f, int64_t{size} - 4 - textSize))
                    break;
            } else if (!Skip(f, int64_t{size} - 4)) {
                break;
            }
        } else if (!Skip(f, size)) {
            break;
        }
    }
    file.reset();

    int genreIndex = -1;
    if (infoEnd > 0) {
        struct Field {
            const char* id;
            std::string* out;
        };
        const Field texts[] = {{"INAM", &title}, {"IART", &artist},  {"IPRD", &album},
                               {"IGNR", &genre}, {"ICMT", &comment}, {"ICOP", &copyright},
                               {"ICRD", &date},  {"ITRK", &track}};
        static constexpr const char* kSkipped[] = {"IARL", "ICMS", "ICRP", "IDIM", "IDPI", "IENG",
                                                   "IKEY", "ILGT", "IMED", "IPLT", "ISBJ", "ISFT",
                                                   "ISHP", "ISRC", "ISRF", "ITCH"};
        const uint8_t* b = info.data();
        size_t pos = 0;
        while (pos + 8 < infoEnd) {
            // The next id: 'I' (either case) and three letters; pad bytes are passed over.
            while (pos < infoEnd && !((b[pos] == 'I' || b[pos] == 'i') && IsAlpha(b[pos + 1]) &&
                                      IsAlpha(b[pos + 2]) && IsAlpha(b[pos + 3])))
                ++pos;
            if (pos >= infoEnd)
                break;
            const uint8_t* id = b + pos;
            const uint32_t size = LoadLe32(b + pos + 4);
            const size_t data = pos + 8;
            const size_t next = static_cast<size_t>(
                std::min<uint64_t>(uint64_t{data} + size, uint64_t{infoEnd} + 1));

            const Field* field = nullptr;
            for (const Field& t : texts)
                if (std::memcmp(id, t.id, 4) == 0)
                    field = &t;
            if (field) {
                if (size != 0 && data < infoEnd) {
                    *field->out = Text(b + data, std::min<size_t>(size, infoEnd - data));
                    if (!field->out->empty())
                        result = 1;
                }
                pos = next;
                continue;
            }
            if (std::memcmp(id, "IGRE", 4) == 0 && size != 0) {
                if (data < infoEnd)
                    genreIndex = b[data];
                result = 1;
                pos = next;
                continue;
            }
            const bool skipped =
                std::any_of(std::begin(kSkipped), std::end(kSkipped),
                            [&](const char* s) { return std::memcmp(id, s, 4) == 0; });
            pos = skipped ? next : pos + 1;
        }
    }

    ResolveGenre(genre, genreIndex);
    // Four characters, not bytes: a cut inside a UTF-8 sequence would leave broken text.
    size_t chars = 0, cut = 0;
    while (cut < date.size() && chars < 4) {
        ++cut;
        while (cut < date.size() && (static_cast<uint8_t>(date[cut]) & 0xC0) == 0x80)
            ++cut;
        ++chars;
    }
    date.resize(cut);
    if (title.empty() && haveDisp)
        title = dispText;
    return result;
}

}  // namespace kestrune
