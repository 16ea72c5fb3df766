#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

// How the samples of a block are held. kS16 is the contract's planar 16-bit block, which every
// reader and writer speaks. A source of more than 16 bits may also travel in wide blocks:
// planar 32-bit integers with full scale at 2^31 (a 24-bit sample shifted up by 8, the bits
// below the source's width zero), or planar 32-bit floats with full scale at 1.0 (louder
// samples kept as they are).
enum class SampleFormat { kS16, kS32, kF32 };

// How wide a source's samples are, where the file says so.
struct SampleDepth {
    int bits = 0;           // 8, 16, 24, 32 (64 for double floats); 0: unknown, or a lossy codec
    bool floating = false;  // IEEE floating-point samples
    bool operator==(const SampleDepth&) const = default;
};

// The wide block that carries a source of this depth unchanged: kF32 for floats, kS32 for
// integers of more than 16 bits, kS16 for the rest.
SampleFormat WideFormatFor(SampleDepth depth);

// "16-bit", "24-bit", "32-bit float"; empty when the depth is unknown.
std::string SampleDepthText(SampleDepth depth);

// Brings wide samples to fewer bits: rounded to the nearest step of the narrower width with
// triangular (TPDF) dither of one step either way, so that the rounding leaves a steady
// noise floor rather than distortion; clipped to the width's range. Deterministic: the same
// samples give the same result for the same seed.
class Ditherer {
public:
    explicit Ditherer(uint32_t seed = 0x6b657374u) : state_(seed ? seed : 1u) {}

    void ToS16(const int32_t* in, int16_t* out, int frames);
    void ToS16(const float* in, int16_t* out, int frames);
    // To a kS32 block that keeps bits (17 to 32) of each sample; the bits below are zero.
    void ToS32(const int32_t* in, int32_t* out, int frames, int bits);
    void ToS32(const float* in, int32_t* out, int frames, int bits);

private:
    // Samples to steps of bits (as integers from -2^(bits-1)), dithered.
    template <typename In>
    void Reduce(const In* in, int32_t* out, int frames, int bits);
    template <typename In>
    void ToS16Via(const In* in, int16_t* out, int frames);
    // One dither value in steps: the sum of two uniform values in [-0.5, 0.5).
    float Next() { return Uniform() + Uniform(); }
    float Uniform() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<float>(state_ >> 8) * (1.0f / 16777216.0f) - 0.5f;
    }

    uint32_t state_;
};

// An integer block as floats (exact for up to 24 significant bits).
void S32ToF32(const int32_t* in, float* out, int frames);

}  // namespace kestrune
