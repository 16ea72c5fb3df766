#pragma once

#include <cstdint>

namespace kestrune {

// Decoder of the ITU-T G.721 (32 kbit/s) and G.723 (24 and 40 kbit/s) ADPCM family, with
// 16-bit linear output. One object follows one channel.
class G72xDecoder {
public:
    // codeBits: 3 (G.723, 24 kbit/s), 4 (G.721, 32 kbit/s) or 5 (G.723, 40 kbit/s).
    explicit G72xDecoder(int codeBits = 4) { Reset(codeBits); }

    // Back to the standard's reset values.
    void Reset(int codeBits);
    int16_t Decode(unsigned code);

private:
    // The standard's 11-bit floating-point form: sign, 4-bit exponent, 6-bit mantissa.
    struct Float11 {
        bool negative = false;
        uint8_t exponent = 0;
        uint8_t mantissa = 32;
    };

    static Float11 ToFloat(bool negative, int magnitude);
    static int FloatMultiply(int coefficient, const Float11& value);
    int StepSize() const;
    void Update(int y, int wi, int fi, bool dqNegative, int dqMagnitude, int sr, int dqsez);

    int codeBits_ = 4;
    int32_t yl_ = 0;  // steady-state scale factor
    int16_t yu_ = 0;  // unlocked scale factor
    int16_t dms_ = 0, dml_ = 0, ap_ = 0;
    int16_t a_[2] = {};  // pole coefficients
    int16_t b_[6] = {};  // zero coefficients
    bool pk_[2] = {};    // signs of the last partial reconstructions
    Float11 dq_[6];      // last quantised differences
    Float11 sr_[2];      // last reconstructed samples
    bool td_ = false;    // tone detected
};

}  // namespace kestrune
