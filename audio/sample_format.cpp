#include "audio/sample_format.h"

#include <cmath>
#include <type_traits>

namespace kestrune {

namespace {

constexpr double kS32Scale = 2147483648.0;  // full scale of a kS32 block

// Rounds x (in steps of the narrower width) to the nearest step within [lowest, highest].
inline int64_t RoundClipped(double x, int64_t lowest, int64_t highest) {
    if (!(x == x))
        return 0;  // NaN from a broken float source
    const double r = std::floor(x + 0.5);
    if (r <= static_cast<double>(lowest))
        return lowest;
    if (r >= static_cast<double>(highest))
        return highest;
    return static_cast<int64_t>(r);
}

}  // namespace

SampleFormat WideFormatFor(SampleDepth depth) {
    if (depth.floating && depth.bits > 0)
        return SampleFormat::kF32;
    return depth.bits > 16 ? SampleFormat::kS32 : SampleFormat::kS16;
}

std::string SampleDepthText(SampleDepth depth) {
    if (depth.bits <= 0)
        return {};
    return std::to_string(depth.bits) + (depth.floating ? "-bit float" : "-bit");
}

template <typename In>
void Ditherer::Reduce(const In* in, int32_t* out, int frames, int bits) {
    const int b = bits < 2 ? 2 : bits > 32 ? 32 : bits;
    // In steps of the narrower width: an integer block's full scale is 2^31, a float's 1.0.
    const double perStep = std::is_same_v<In, float>
                               ? static_cast<double>(int64_t{1} << (b - 1))
                               : 1.0 / static_cast<double>(int64_t{1} << (32 - b));
    const int64_t most = (int64_t{1} << (b - 1)) - 1;
    for (int i = 0; i < frames; ++i) {
        const double v = static_cast<double>(in[i]) * perStep;
        // A sample on a step already (a 16-bit sound in a 24-bit file) passes unchanged.
        const double x = v == std::floor(v) ? v : v + Next();
        out[i] = static_cast<int32_t>(RoundClipped(x, -most - 1, most));
    }
}

void Ditherer::ToS16(const int32_t* in, int16_t* out, int frames) {
    ToS16Via(in, out, frames);
}

void Ditherer::ToS16(const float* in, int16_t* out, int frames) {
    ToS16Via(in, out, frames);
}

template <typename In>
void Ditherer::ToS16Via(const In* in, int16_t* out, int frames) {
    int32_t steps[256];
    for (int at = 0; at < frames; at += 256) {
        const int n = frames - at < 256 ? frames - at : 256;
        Reduce(in + at, steps, n, 16);
        for (int i = 0; i < n; ++i)
            out[at + i] = static_cast<int16_t>(steps[i]);
    }
}

void Ditherer::ToS32(const int32_t* in, int32_t* out, int frames, int bits) {
    if (bits >= 32) {
        for (int i = 0; i < frames; ++i)
            out[i] = in[i];
        return;
    }
    Reduce(in, out, frames, bits);
    for (int i = 0; i < frames; ++i)
        out[i] = static_cast<int32_t>(static_cast<uint32_t>(out[i]) << (32 - bits));
}

void Ditherer::ToS32(const float* in, int32_t* out, int frames, int bits) {
    const int b = bits < 17 ? 17 : bits > 32 ? 32 : bits;
    Reduce(in, out, frames, b);
    if (b < 32)
        for (int i = 0; i < frames; ++i)
            out[i] = static_cast<int32_t>(static_cast<uint32_t>(out[i]) << (32 - b));
}

void S32ToF32(const int32_t* in, float* out, int frames) {
    for (int i = 0; i < frames; ++i)
        out[i] = static_cast<float>(static_cast<double>(in[i]) / kS32Scale);
}

}  // namespace kestrune
