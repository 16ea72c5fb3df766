#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "audio/sample_format.h"

namespace kestrune {

// How one coded sample of an uncompressed or companded stream is laid out.
enum class SampleCoding {
    S8,
    U8,
    S16Be,
    S16Le,
    S24Be,
    S24Le,
    S32Be,
    S32Le,
    F32Be,
    F32Le,
    F64Be,
    F64Le,
    Ulaw,
    Alaw,
};

int SampleBytes(SampleCoding coding);

// Turns frames of interleaved coded samples into the planar 16-bit block of the contract:
// one channel to left, two to left and right, more through DownmixFrame (only the first
// eight samples of a frame are looked at, the rest are passed over).
using UnpackFn = void (*)(const uint8_t* src, size_t frames, int channels, int16_t* left,
                          int16_t* right);
UnpackFn SelectUnpacker(SampleCoding coding);

// The same into the wide blocks of a source of more than 16 bits: integers with full scale at
// 2^31 for the 24- and 32-bit codings, floats for the float ones; null for the other codings.
using UnpackS32Fn = void (*)(const uint8_t* src, size_t frames, int channels, int32_t* left,
                             int32_t* right);
using UnpackF32Fn = void (*)(const uint8_t* src, size_t frames, int channels, float* left,
                             float* right);
UnpackS32Fn SelectS32Unpacker(SampleCoding coding);
UnpackF32Fn SelectF32Unpacker(SampleCoding coding);

// How wide a coding's samples are; unknown for the companded ones.
SampleDepth DepthOf(SampleCoding coding);

// Floating point to 16 bits: scaled to the 32-bit range, truncated, top half kept.
// Values beyond full scale are clipped rather than left to wrap.
int16_t FloatToS16(double value);

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f)
            std::fclose(f);
    }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens an existing file for reading; its size in bytes goes to size (-1 when unknown).
FileHandle OpenForReading(const std::string& path, int64_t& size);

}  // namespace kestrune
