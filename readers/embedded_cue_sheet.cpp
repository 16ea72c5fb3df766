#include "readers/embedded_cue_sheet.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "audio/tag_set.h"
#include "readers/tag_file_reader.h"

namespace kestrune {

namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

uint64_t BigEndian(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = v << 8 | p[i];
    return v;
}

}  // namespace

// Its positions are samples of the stream.
bool ReadFlacCueBlock(const std::string& path, CueSheet& sheet) {
    File f(std::fopen(path.c_str(), "rb"), std::fclose);
    uint8_t magic[4];
    if (!f || std::fread(magic, 1, 4, f.get()) != 4 || BigEndian(magic, 4) != 0x664C6143)
        return false;
    for (int blocks = 0; blocks < 1024; ++blocks) {
        uint8_t header[4];
        if (std::fread(header, 1, 4, f.get()) != 4)
            return false;
        const bool last = header[0] & 0x80;
        const int type = header[0] & 0x7F;
        const auto size = static_cast<long>(BigEndian(header + 1, 3));
        if (type != 5) {
            if (last || std::fseek(f.get(), size, SEEK_CUR) != 0)
                return false;
            continue;
        }
        // 16 MiB at most by its 24-bit size; a real one is a few kilobytes.
        std::vector<uint8_t> block(static_cast<size_t>(size));
        if (std::fread(block.data(), 1, block.size(), f.get()) != block.size())
            return false;
        constexpr size_t kTracksAt = 128 + 8 + 1 + 258;
        if (block.size() < kTracksAt + 1)
            return false;
        const int count = block[kTracksAt];
        size_t at = kTracksAt + 1;
        for (int i = 0; i < count; ++i) {
            if (at + 36 > block.size())
                return false;
            // Years of audio at any rate; beyond that a position is damage, and the sum of two
            // such would overflow.
            constexpr uint64_t kFarthest = uint64_t{1} << 48;
            const uint64_t offset = BigEndian(&block[at], 8);
            const int number = block[at + 8];
            const bool audio = !(block[at + 21] & 0x80);
            const int indices = block[at + 35];
            at += 36;
            int64_t index00 = -1, index01 = -1;
            for (int k = 0; k < indices; ++k) {
                if (at + 12 > block.size())
                    return false;
                const uint64_t position = BigEndian(&block[at], 8);
                if (offset > kFarthest || position > kFarthest)
                    return false;
                const auto at0 = static_cast<int64_t>(offset + position);
                if (block[at + 8] == 0)
                    index00 = at0;
                else if (block[at + 8] == 1)
                    index01 = at0;
                at += 12;
            }
            // The lead-out (170 on a CD, 255 otherwise) is no track.
            if (number < 1 || number > kMostCueTracks || !audio || index01 < 0)
                continue;
            if (!sheet.tracks.empty() && sheet.tracks.back().index01 >= index01)
                return false;
            if (static_cast<int>(sheet.tracks.size()) == kMostCueTracks)
                return false;
            CueTrack track;
            track.number = number;
            track.index00 = index00;
            track.index01 = index01;
            sheet.tracks.push_back(track);
        }
        sheet.inSamples = true;
        return !sheet.tracks.empty();
    }
    return false;
}

CueParse ReadEmbeddedCueSheet(const std::string& path) {
    CueParse parsed;
    if (ReadFlacCueBlock(path, parsed.sheet))
        return parsed;
    parsed.sheet = {};
    TagSet tags;
    ReadFileTags(path, tags);
    const auto it = tags.fields.find("CUESHEET");
    if (it == tags.fields.end() || it->second.empty()) {
        parsed.error = CueError::kNoTracks;
        return parsed;
    }
    parsed = ParseCueSheet(it->second.front());
    // Whatever file it names, it is the image's own.
    for (CueTrack& t : parsed.sheet.tracks)
        t.file.clear();
    return parsed;
}

}  // namespace kestrune
