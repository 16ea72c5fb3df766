#include "readers/g711.h"

namespace kestrune {

int16_t UlawToLinear(uint8_t code) {
    // Codes are stored inverted; the segment doubles the step, 0x84 is the bias.
    const int u = static_cast<uint8_t>(~code);
    const int exponent = (u >> 4) & 0x07;
    const int mantissa = u & 0x0F;
    const int magnitude = (((mantissa << 3) + 0x84) << exponent) - 0x84;
    return static_cast<int16_t>((u & 0x80) ? -magnitude : magnitude);
}

int16_t AlawToLinear(uint8_t code) {
    // Even bits are inverted on the line; segment 0 is linear, the others add the hidden bit.
    const int a = code ^ 0x55;
    const int segment = (a >> 4) & 0x07;
    int magnitude = ((a & 0x0F) << 4) + 8;
    if (segment > 0)
        magnitude = (magnitude + 0x100) << (segment - 1);
    return static_cast<int16_t>((a & 0x80) ? magnitude : -magnitude);
}

}  // namespace kestrune
