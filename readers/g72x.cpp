#include "readers/g72x.h"

#include <bit>
#include <cstdlib>

namespace kestrune {

namespace {

// Quantiser tables of the standard, indexed by code magnitude: the log of the normalised
// reconstruction level (DQLN), the scale-factor multiplier W(I) and the speed-control F(I),
// in the fixed-point units the computation uses.
struct RateTables {
    const int16_t* dqln;
    const int* w;
    const int16_t* f;
};

constexpr int16_t kDqln24[4] = {-2048, 135, 273, 373};
constexpr int kW24[4] = {-128, 960, 4384, 18624};
constexpr int16_t kF24[4] = {0, 0x200, 0x400, 0xE00};

constexpr int16_t kDqln32[8] = {-2048, 4, 135, 213, 273, 323, 373, 425};
constexpr int kW32[8] = {-12 * 32, 18 * 32,  41 * 32,  64 * 32,
                         112 * 32, 198 * 32, 355 * 32, 1122 * 32};
constexpr int16_t kF32[8] = {0, 0, 0, 0x200, 0x200, 0x200, 0x600, 0xE00};

constexpr int16_t kDqln40[16] = {-2048, -66, 28,  104, 169, 224, 274, 318,
                                 358,   395, 429, 459, 488, 514, 539, 566};
constexpr int kW40[16] = {448,  448,  768,  1248, 1280,  1312,  1856,  3200,
                          4512, 5728, 7008, 8960, 11456, 14080, 16928, 22272};
constexpr int16_t kF40[16] = {0,     0,     0,     0,     0,     0x200, 0x200, 0x200,
                              0x200, 0x200, 0x400, 0x600, 0x800, 0xA00, 0xC00, 0xC00};

RateTables TablesFor(int codeBits) {
    switch (codeBits) {
        case 3:
            return {kDqln24, kW24, kF24};
        case 5:
            return {kDqln40, kW40, kF40};
        default:
            return {kDqln32, kW32, kF32};
    }
}

// Number of significant bits (0 for 0).
inline int BitLength(int v) {
    return v <= 0 ? 0 : std::bit_width(static_cast<unsigned>(v));
}

inline int16_t Wrap16(int v) {
    return static_cast<int16_t>(v);
}

}  // namespace

void G72xDecoder::Reset(int codeBits) {
    codeBits_ = (codeBits == 3 || codeBits == 5) ? codeBits : 4;
    yl_ = 34816;
    yu_ = 544;
    dms_ = dml_ = ap_ = 0;
    a_[0] = a_[1] = 0;
    for (auto& c : b_)
        c = 0;
    pk_[0] = pk_[1] = false;
    for (auto& v : dq_)
        v = Float11{};
    for (auto& v : sr_)
        v = Float11{};
    td_ = false;
}

G72xDecoder::Float11 G72xDecoder::ToFloat(bool negative, int magnitude) {
    Float11 f;
    f.negative = negative;
    if (magnitude == 0)
        return f;  // mantissa 32, exponent 0
    const int e = BitLength(magnitude);
    f.exponent = static_cast<uint8_t>(e);
    f.mantissa = static_cast<uint8_t>((magnitude << 6) >> e);
    return f;
}

// FMULT: a 16-bit coefficient times a floating-point sample, returned at twice the scale of
// the signal (the accumulator drops that bit).
int G72xDecoder::FloatMultiply(int coefficient, const Float11& value) {
    const int an = coefficient >> 2;  // 14-bit two's complement
    const int magnitude = an > 0 ? an : ((-an) & 0x1FFF);
    const int aExp = BitLength(magnitude);
    const int aMant = magnitude == 0 ? 32 : (magnitude << 6) >> aExp;
    const int shift = aExp + value.exponent - 19;
    const int mant = (aMant * value.mantissa + 48) >> 4;
    const int product = shift >= 0 ? ((mant << shift) & 0x7FFF) : (mant >> -shift);
    return ((an < 0) != value.negative) ? -product : product;
}

// MIX: the scale factor between the fast and the slow one, by the speed-control weight.
int G72xDecoder::StepSize() const {
    if (ap_ >= 256)
        return yu_;
    const int slow = yl_ >> 6;
    const int dif = yu_ - slow;
    const int al = ap_ >> 2;
    const int prod = dif >= 0 ? (dif * al) >> 6 : -((-dif * al) >> 6);
    return slow + prod;
}

int16_t G72xDecoder::Decode(unsigned code) {
    const unsigned signBit = 1u << (codeBits_ - 1);
    code &= (1u << codeBits_) - 1;
    const bool negative = (code & signBit) != 0;
    // Negative codes count down from the top (one's complement of the magnitude).
    const unsigned index = negative ? (~code & (signBit - 1)) : code;
    const RateTables t = TablesFor(codeBits_);

    int16_t sezi = 0;
    for (int i = 0; i < 6; ++i)
        sezi = Wrap16(sezi + FloatMultiply(b_[i], dq_[i]));
    const int16_t sez = static_cast<int16_t>(sezi >> 1);
    const int16_t sei = Wrap16(sezi + FloatMultiply(a_[1], sr_[1]) + FloatMultiply(a_[0], sr_[0]));
    const int16_t se = static_cast<int16_t>(sei >> 1);

    const int y = StepSize();

    // ADDA and ANTILOG: the quantised difference in sign-magnitude form.
    const int dql = t.dqln[index] + (y >> 2);
    int dqMagnitude = 0;
    if (dql >= 0) {
        const int dex = (dql >> 7) & 15;
        const int dqt = 128 + (dql & 127);
        dqMagnitude = (dqt << 7) >> (14 - dex);
    }

    // ADDB: the reconstructed signal keeps a 14-bit magnitude range for negative differences.
    const int16_t sr = negative ? Wrap16(se - (dqMagnitude & 0x3FFF)) : Wrap16(se + dqMagnitude);
    const int16_t dqsez = Wrap16(sr - se + sez);

    Update(y, t.w[index], t.f[index], negative, dqMagnitude, sr, dqsez);
    return Wrap16(sr * 4);  // 14-bit range to 16 bits
}

void G72xDecoder::Update(int y, int wi, int fi, bool dqNegative, int dqMagnitude, int sr,
                         int dqsez) {
    const bool pk0 = dqsez < 0;
    const int mag = dqMagnitude & 0x7FFF;

    // TRANS: a large difference during a detected tone means modem data.
    const int ylint = yl_ >> 15;
    const int ylfrac = (yl_ >> 10) & 0x1F;
    const int thr1 = (32 + ylfrac) << ylint;
    const int thr2 = ylint > 9 ? 31 << 10 : thr1;
    const int dqthr = (thr2 + (thr2 >> 1)) >> 1;
    const bool tr = td_ && mag > dqthr;

    // FUNCTW, FILTD, LIMB: the fast scale factor; FILTE: the slow one.
    int yu = y + ((wi - y) >> 5);
    if (yu < 544)
        yu = 544;
    if (yu > 5120)
        yu = 5120;
    yu_ = static_cast<int16_t>(yu);
    yl_ += yu_ + ((-yl_) >> 6);

    int a2p = 0;
    if (tr) {
        a_[0] = a_[1] = 0;
        for (auto& c : b_)
            c = 0;
    } else {
        const bool pks1 = pk0 != pk_[0];

        // UPA2 and LIMC: the second pole.
        a2p = a_[1] - (a_[1] >> 7);
        if (dqsez != 0) {
            const int fa1 = pks1 ? a_[0] : -a_[0];
            if (fa1 < -8191)
                a2p -= 0x100;
            else if (fa1 > 8191)
                a2p += 0xFF;
            else
                a2p += fa1 >> 5;
            if (pk0 != pk_[1]) {
                if (a2p <= -12160)
                    a2p = -12288;
                else if (a2p >= 12416)
                    a2p = 12288;
                else
                    a2p -= 0x80;
            } else if (a2p <= -12416) {
                a2p = -12288;
            } else if (a2p >= 12160) {
                a2p = 12288;
            } else {
                a2p += 0x80;
            }
        }
        a_[1] = static_cast<int16_t>(a2p);

        // UPA1 and LIMD: the first pole, bounded by the second.
        int a1 = a_[0] - (a_[0] >> 8);
        if (dqsez != 0)
            a1 += pks1 ? -192 : 192;
        const int a1ul = 15360 - a2p;
        if (a1 < -a1ul)
            a1 = -a1ul;
        if (a1 > a1ul)
            a1 = a1ul;
        a_[0] = static_cast<int16_t>(a1);

        // UPB: the zeros leak faster at 40 kbit/s' finer quantiser.
        const int leak = codeBits_ == 5 ? 9 : 8;
        for (int i = 0; i < 6; ++i) {
            int bi = b_[i] - (b_[i] >> leak);
            if (mag != 0)
                bi += (dqNegative == dq_[i].negative) ? 128 : -128;
            b_[i] = Wrap16(bi);
        }
    }

    // FLOATA and FLOATB, then the delay lines.
    for (int i = 5; i > 0; --i)
        dq_[i] = dq_[i - 1];
    dq_[0] = ToFloat(dqNegative, mag);
    sr_[1] = sr_[0];
    if (sr == -32768) {
        sr_[0] = ToFloat(true, 0);
    } else {
        sr_[0] = ToFloat(sr < 0, std::abs(sr));
    }
    pk_[1] = pk_[0];
    pk_[0] = pk0;

    // TONE: a strongly negative second pole hints at a modem tone.
    td_ = !tr && a2p < -11776;

    // FILTA, FILTB, SUBTC, FILTC: adaptation speed control.
    dms_ = Wrap16(dms_ + ((fi - dms_) >> 5));
    dml_ = Wrap16(dml_ + (((fi << 2) - dml_) >> 7));
    if (tr) {
        ap_ = 256;
    } else if (y < 1536 || td_ || std::abs((dms_ << 2) - dml_) >= (dml_ >> 3)) {
        ap_ = Wrap16(ap_ + ((0x200 - ap_) >> 4));
    } else {
        ap_ = Wrap16(ap_ + ((-ap_) >> 4));
    }
}

}  // namespace kestrune
