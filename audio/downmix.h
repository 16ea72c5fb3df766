#pragma once

#include <cstdint>

namespace kestrune {

// Folds one interleaved frame of a source with more than two channels into stereo.
// Only the first eight samples of the frame are looked at; frame must hold
// min(channelCount, 8) samples (at least two).
void DownmixFrame(int channelCount, const int16_t* frame, int16_t& left, int16_t& right);
// The same mix for wide samples: integers clipped to the 32-bit range, floats not clipped.
void DownmixFrame(int channelCount, const int32_t* frame, int32_t& left, int32_t& right);
void DownmixFrame(int channelCount, const float* frame, float& left, float& right);

}  // namespace kestrune
