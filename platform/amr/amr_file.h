#pragma once

// What the narrow- and wide-band layers share: the storage file itself. A frame is one header
// byte (frame type in bits 3..6) followed by a number of bytes fixed by the frame type.

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kestrune::amr {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Bytes after the header byte per frame type; -1 marks a frame type no encoder produces.
using FrameSizes = std::array<int, 16>;

// Largest frame of either band, header included.
constexpr int kMaxFrameBytes = 61;

enum class FrameResult { Frame, End, Damaged };

// Opens path and checks that it starts with magic; the file is left just after it.
inline FilePtr OpenWithMagic(const char* path, const char* magic) {
    if (!path)
        return nullptr;
    FilePtr file(std::fopen(path, "rb"));
    if (!file)
        return nullptr;
    const size_t n = std::strlen(magic);
    char head[16] = {};
    if (std::fread(head, 1, n, file.get()) != n || std::memcmp(head, magic, n) != 0)
        return nullptr;
    return file;
}

// Reads the next frame, header byte included, into frame. A file that ends inside a frame ends
// there: the incomplete frame is not decoded.
inline FrameResult ReadFrame(FILE* file, const FrameSizes& sizes, uint8_t* frame) {
    const int header = std::fgetc(file);
    if (header == EOF)
        return FrameResult::End;
    const int size = sizes[(header >> 3) & 0x0f];
    if (size < 0)
        return FrameResult::Damaged;
    frame[0] = static_cast<uint8_t>(header);
    if (size > 0 &&
        std::fread(frame + 1, 1, static_cast<size_t>(size), file) != static_cast<size_t>(size))
        return FrameResult::End;
    return FrameResult::Frame;
}

// Creates path and writes magic; null when either fails.
inline FilePtr CreateWithMagic(const char* path, const char* magic) {
    if (!path)
        return nullptr;
    FilePtr file(std::fopen(path, "wb"));
    if (!file)
        return nullptr;
    const size_t n = std::strlen(magic);
    if (std::fwrite(magic, 1, n, file.get()) != n)
        return nullptr;
    return file;
}

// Appends one encoded frame; returns its size, or 0 when the file refuses it (a full disk
// stays reported on every later frame too). Each frame is handed to the system at once, so
// that no failure is left for the close, where nobody would hear of it.
inline int AppendFrame(FILE* file, const uint8_t* frame, int size) {
    if (size <= 0 || std::ferror(file))
        return 0;
    if (std::fwrite(frame, 1, static_cast<size_t>(size), file) != static_cast<size_t>(size) ||
        std::fflush(file) != 0)
        return 0;
    return size;
}

}  // namespace kestrune::amr
