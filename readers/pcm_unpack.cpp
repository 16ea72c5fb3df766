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

// Wide samples: the integers moved up to the top of 32 bits, the floats as they are.
int32_t WideS24Be(const uint8_t* p) {
    return static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
                                (uint32_t{p[2]} << 8));
}
int32_t WideS24Le(const uint8_t* p) {
    return static_cast<int32_t>((uint32_t{p[2]} << 24) | (uint32_t{p[1]} << 16) |
                                (uint32_t{p[0]} << 8));
}
int32_t WideS32Be(const uint8_t* p) {
    return static_cast<int32_t>(LoadBe32(p));
}
int32_t WideS32Le(const uint8_t* p) {
    return static_cast<int32_t>(LoadLe32(p));
}
float WideF32Be(const uint8_t* p) {
    return std::bit_cast<float>(LoadBe32(p));
}
float WideF32Le(const uint8_t* p) {
    return std::bit_cast<float>(LoadLe32(p));
}
float WideF64Be(const uint8_t* p) {
    return static_cast<float>(std::bit_cast<double>(LoadBe64(p)));
}
float WideF64Le(const uint8_t* p) {
    return static_cast<float>(std::bit_cast<double>(LoadLe64(p)));
}

template <typename Out, Out (*Decode)(const uint8_t*), int Bytes>
void Unpack(const uint8_t* src, size_t frames, int channels, Out* left, Out* right) {
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
    Out frame[8];
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
            return &Unpack<int16_t, DecS8, 1>;
        case SampleCoding::U8:
            return &Unpack<int16_t, DecU8, 1>;
        case SampleCoding::S16Be:
            return &Unpack<int16_t, DecS16Be, 2>;
        case SampleCoding::S16Le:
            return &Unpack<int16_t, DecS16Le, 2>;
        case SampleCoding::S24Be:
            return &Unpack<int16_t, DecS24Be, 3>;
        case SampleCoding::S24Le:
            return &Unpack<int16_t, DecS24Le, 3>;
        case SampleCoding::S32Be:
            return &Unpack<int16_t, DecS32Be, 4>;
        case SampleCoding::S32Le:
            return &Unpack<int16_t, DecS32Le, 4>;
        case SampleCoding::F32Be:
            return &Unpack<int16_t, DecF32Be, 4>;
        case SampleCoding::F32Le:
            return &Unpack<int16_t, DecF32Le, 4>;
        case SampleCoding::F64Be:
            return &Unpack<int16_t, DecF64Be, 8>;
        case SampleCoding::F64Le:
            return &Unpack<int16_t, DecF64Le, 8>;
        case SampleCoding::Ulaw:
            return &Unpack<int16_t, DecUlaw, 1>;
        case SampleCoding::Alaw:
            return &Unpack<int16_t, DecAlaw, 1>;
    }
    return &Unpack<int16_t, DecS8, 1>;
}

UnpackS32Fn SelectS32Unpacker(SampleCoding coding) {
    switch (coding) {
        case SampleCoding::S24Be:
            return &Unpack<int32_t, WideS24Be, 3>;
        case SampleCoding::S24Le:
            return &Unpack<int32_t, WideS24Le, 3>;
        case SampleCoding::S32Be:
            return &Unpack<int32_t, WideS32Be, 4>;
        case SampleCoding::S32Le:
            return &Unpack<int32_t, WideS32Le, 4>;
        default:
            return nullptr;
    }
}

UnpackF32Fn SelectF32Unpacker(SampleCoding coding) {
    switch (coding) {
        case SampleCoding::F32Be:
            return &Unpack<float, WideF32Be, 4>;
        case SampleCoding::F32Le:
            return &Unpack<float, WideF32Le, 4>;
        case SampleCoding::F64Be:
            return &Unpack<float, WideF64Be, 8>;
        case SampleCoding::F64Le:
            return &Unpack<float, WideF64Le, 8>;
        default:
            return nullptr;
    }
}

SampleDepth DepthOf(SampleCoding coding) {
    switch (coding) {
        case SampleCoding::Ulaw:
        case SampleCoding::Alaw:
            return {};
        case SampleCoding::F32Be:
        case SampleCoding::F32Le:
            return {32, true};
        case SampleCoding::F64Be:
        case SampleCoding::F64Le:
            return {64, true};
        default:
            return {8 * SampleBytes(coding), false};
    }
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
