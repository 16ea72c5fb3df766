#pragma once
// Integers stored in a byte order of their own, as file formats keep them: read from a buffer,
// or appended to one. Header-only; includes nothing of the program.

#include <cstdint>

namespace kestrune {

// An unsigned integer of `bytes` bytes (1 to 8) at p, most significant byte first.
constexpr uint64_t LoadBe(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}
// The same, least significant byte first.
constexpr uint64_t LoadLe(const uint8_t* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

constexpr uint16_t LoadBe16(const uint8_t* p) {
    return static_cast<uint16_t>(LoadBe(p, 2));
}
constexpr uint32_t LoadBe32(const uint8_t* p) {
    return static_cast<uint32_t>(LoadBe(p, 4));
}
constexpr uint64_t LoadBe64(const uint8_t* p) {
    return LoadBe(p, 8);
}
constexpr uint16_t LoadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(LoadLe(p, 2));
}
constexpr uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(LoadLe(p, 4));
}
constexpr uint64_t LoadLe64(const uint8_t* p) {
    return LoadLe(p, 8);
}

// The bytes of a char buffer (a std::string's data) as the loaders take them.
inline const uint8_t* AsBytes(const char* p) {
    return reinterpret_cast<const uint8_t*>(p);
}

// Appends the low `bytes` bytes of v to out (a std::string or a vector of bytes).
template <typename Bytes>
void AppendBe(Bytes& out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<typename Bytes::value_type>((v >> (8 * i)) & 0xFF));
}
template <typename Bytes>
void AppendLe(Bytes& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<typename Bytes::value_type>((v >> (8 * i)) & 0xFF));
}

}  // namespace kestrune
