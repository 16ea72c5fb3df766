#include "audio/downmix.h"

#include <cstdint>

namespace kestrune {

namespace {

// The mix factor is single precision on purpose: results must match to the sample.
inline int32_t C(int32_t x) {
    return static_cast<int32_t>(static_cast<float>(x) * 0.707f);
}

inline int16_t Clip(int32_t v) {
    if (v > 32767)
        return 32767;
    if (v < -32768)
        return -32768;
    return static_cast<int16_t>(v);
}

}  // namespace

void DownmixFrame(int channelCount, const int16_t* s, int16_t& left, int16_t& right) {
    int32_t l, r, c;
    switch (channelCount) {
        case 3:
            c = C(s[2]);
            l = s[0] + c;
            r = s[1] + c;
            break;
        case 4:
            l = s[0] + s[2];
            r = s[1] + s[3];
            break;
        case 5:
            c = C(s[2]);
            l = s[0] + c + s[3];
            r = s[1] + c + s[4];
            break;
        case 6:
            c = C(s[2] + s[3]);
            l = s[0] + c + s[4];
            r = s[1] + c + s[5];
            break;
        case 7:
            c = C(s[2] + s[3] + s[6]);
            l = s[0] + c + s[4];
            r = s[1] + c + s[5];
            break;
        case 8:
            c = C(s[2] + s[3]);
            l = s[0] + c + s[4] + s[6];
            r = s[1] + c + s[5] + s[7];
            break;
        default:
            l = s[0];
            r = s[1];
            break;
    }
    left = Clip(l);
    right = Clip(r);
}

namespace {

template <typename T, typename Sum>
void MixWide(int channelCount, const T* s, Sum& l, Sum& r) {
    const auto c = [](Sum x) { return static_cast<Sum>(static_cast<double>(x) * 0.707); };
    const auto at = [s](int i) { return static_cast<Sum>(s[i]); };
    switch (channelCount) {
        case 3:
            l = at(0) + c(at(2));
            r = at(1) + c(at(2));
            break;
        case 4:
            l = at(0) + at(2);
            r = at(1) + at(3);
            break;
        case 5:
            l = at(0) + c(at(2)) + at(3);
            r = at(1) + c(at(2)) + at(4);
            break;
        case 6:
            l = at(0) + c(at(2) + at(3)) + at(4);
            r = at(1) + c(at(2) + at(3)) + at(5);
            break;
        case 7:
            l = at(0) + c(at(2) + at(3) + at(6)) + at(4);
            r = at(1) + c(at(2) + at(3) + at(6)) + at(5);
            break;
        case 8:
            l = at(0) + c(at(2) + at(3)) + at(4) + at(6);
            r = at(1) + c(at(2) + at(3)) + at(5) + at(7);
            break;
        default:
            l = at(0);
            r = at(1);
            break;
    }
}

inline int32_t Clip32(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

}  // namespace

void DownmixFrame(int channelCount, const int32_t* s, int32_t& left, int32_t& right) {
    int64_t l, r;
    MixWide(channelCount, s, l, r);
    left = Clip32(l);
    right = Clip32(r);
}

void DownmixFrame(int channelCount, const float* s, float& left, float& right) {
    double l, r;
    MixWide(channelCount, s, l, r);
    left = static_cast<float>(l);
    right = static_cast<float>(r);
}

}  // namespace kestrune
