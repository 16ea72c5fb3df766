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

}  // namespace kestrune
