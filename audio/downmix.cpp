#include "audio/downmix.h"

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

}  // namespace kestrune
