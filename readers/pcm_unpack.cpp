#include "readers/pcm_unpack.h"

#include <sys/stat.h>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "audio/downmix.h"
#include "common/byte_order.h"
#include "readers/g711.h"

namespace kestrune {

namespace {

inline int16_t Be16(const uint8_t* p) {
    return static_cast<int16_t>(LoadBe16(p));
}
inline int16_t Le16(const uint8_t* p) {
    return static_cast<int16_t>(LoadLe16(p));
}

int16_t DecS8(const uint8_t* p) {
    return static_cast<int16_t>(static_cast<int8_t>(p[0]) * 256);
}
int16_t DecU8(const uint8_t* p) {
    return static_cast<int16_t>((p[0] - 128) * 256);
}
int16_t DecS16Be(const uint8_t* p) {
    return Be16(p);
}
int16_t DecS16Le(const uint8_t* p) {
    return Le16(p);
}
int16_t DecS24Be(const uint8_t* p) {
    return Be16(p);
}
int16_t DecS24Le(const uint8_t* p) {
    return Le16(p + 1);
}
int16_t DecS32Be(const uint8_t* p) {
    return Be16(p);
}
int16_t DecS32Le(const uint8_t* p) {
    return Le16(p + 2);
}
int16_t DecF32Be(const uint8_t* p) {
    return FloatToS16(std::bit_cast<float>(LoadBe32(p)));
}
int16_t DecF32Le(const uint8_t* p) {
    return FloatToS16(std::bit_cast<float>(LoadLe32(p)));
}
int16_t DecF64Be(const uint8_t* p) {
    return FloatToS16(std::bit_cast<double>(LoadBe64(p)));
}
int16_t DecF64Le(const uint8_t* p) {
    return FloatToS16(std::bit_cast<double>(LoadLe64(p)));
}
int16_t DecUlaw(const uint8_t* p) {
    return UlawToLinear(p[0]);
}
int16_t DecAlaw(const uint8_t* p) {
    return AlawToLinear(p[0]);
}

template <int16_t (*Decode)(const uint8_t*), int Bytes>
void Unpack(const uint8_t* src, size_t frames, int channels, int16_t* left, int16_t* right) {
    if (channels == 1) {
        for (size_t i = 0; i < frames; ++i)
            left[i] = Decode(src + i * Bytes);
        return;
    }
    if (channels == 2) {
        for (size_t i = 0; i < frames; ++i, src += 2 * Bytes) {
            left[i] = Decode(src);
            right[i] = Decode(src + Bytes);
        }
        return;
    }
    const int used = channels < 8 ? channels : 8;
    const size_t frameBytes = static_cast<size_t>(channels) * Bytes;
    int16_t frame[8];
    for (size_t i = 0; i < frames; ++i, src += frameBytes) {
        for (int c = 0; c < used; ++c)
            frame[c] = Decode(src + c * Bytes);
        DownmixFrame(channels, frame, left[i], right[i]);
    }
}

}  // namespace

int SampleBytes(SampleCoding coding) {
    switch (coding) {
        case SampleCoding::S8:
        case SampleCoding::U8:
        case SampleCoding::Ulaw:
        case SampleCoding::Alaw:
            return 1;
        case SampleCoding::S16Be:
        case SampleCoding::S16Le:
            return 2;
        case SampleCoding::S24Be:
        case SampleCoding::S24Le:
            return 3;
        case SampleCoding::S32Be:
        case SampleCoding::S32Le:
        case SampleCoding::F32Be:
        case SampleCoding::F32Le:
            return 4;
        case SampleCoding::F64Be:
        case SampleCoding::F64Le:
            return 8;
    }
    return 1;
}

UnpackFn SelectUnpacker(SampleCoding coding) {
    switch (coding) {
        case SampleCoding::S8:
            return &Unpack<DecS8, 1>;
        case SampleCoding::U8:
            return &Unpack<DecU8, 1>;
        case SampleCoding::S16Be:
            return &Unpack<DecS16Be, 2>;
        case SampleCoding::S16Le:
            return &Unpack<DecS16Le, 2>;
        case SampleCoding::S24Be:
            return &Unpack<DecS24Be, 3>;
        case SampleCoding::S24Le:
            return &Unpack<DecS24Le, 3>;
        case SampleCoding::S32Be:
            return &Unpack<DecS32Be, 4>;
        case SampleCoding::S32Le:
            return &Unpack<DecS32Le, 4>;
        case SampleCoding::F32Be:
            return &Unpack<DecF32Be, 4>;
        case SampleCoding::F32Le:
            return &Unpack<DecF32Le, 4>;
        case SampleCoding::F64Be:
            return &Unpack<DecF64Be, 8>;
        case SampleCoding::F64Le:
            return &Unpack<DecF64Le, 8>;
        case SampleCoding::Ulaw:
            return &Unpack<DecUlaw, 1>;
        case SampleCoding::Alaw:
            return &Unpack<DecAlaw, 1>;
    }
    return &Unpack<DecS8, 1>;
}

int16_t FloatToS16(double value) {
    const double scaled = value * 2147483647.0;
    if (std::isnan(scaled))
        return 0;
    if (scaled >= 2147483647.0)
        return 32767;
    if (scaled <= -2147483648.0)
        return -32768;
    return static_cast<int16_t>(static_cast<int32_t>(scaled) >> 16);
}

FileHandle OpenForReading(const std::string& path, int64_t& size) {
    size = -1;
    FileHandle f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return f;
    struct stat st {};
    if (fstat(fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode))
        return FileHandle();
    size = st.st_size;
    return f;
}

}  // namespace kestrune
