#pragma once

#include <cstdint>

namespace kestrune {

// Scales a block in place: sample x gain in single precision, truncated toward zero and
// clipped to the 16-bit range.
inline void ApplyGain(int16_t* buffer, int frames, float gain) {
    for (int i = 0; i < frames; ++i) {
        const float v = static_cast<float>(buffer[i]) * gain;
        buffer[i] = v >= 32767.0f    ? int16_t{32767}
                    : v <= -32768.0f ? int16_t{-32768}
                                     : static_cast<int16_t>(v);
    }
}

// The same for a wide integer block: in double precision (a float would drop the low bits of
// a 24-bit sample), truncated toward zero and clipped to the 32-bit range.
inline void ApplyGain(int32_t* buffer, int frames, float gain) {
    const double g = gain;
    for (int i = 0; i < frames; ++i) {
        const double v = static_cast<double>(buffer[i]) * g;
        buffer[i] = v >= 2147483647.0    ? int32_t{2147483647}
                    : v <= -2147483648.0 ? int32_t{-2147483647 - 1}
                                         : static_cast<int32_t>(v);
    }
}

// And for a float block, whose samples may go beyond full scale.
inline void ApplyGain(float* buffer, int frames, float gain) {
    for (int i = 0; i < frames; ++i)
        buffer[i] *= gain;
}

}  // namespace kestrune
