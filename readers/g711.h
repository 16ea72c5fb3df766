#pragma once

#include <cstdint>

namespace kestrune {

// ITU-T G.711 expansion of one companded byte to 16-bit linear PCM.
int16_t UlawToLinear(uint8_t code);
int16_t AlawToLinear(uint8_t code);

}  // namespace kestrune
