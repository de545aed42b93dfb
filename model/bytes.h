// Little-endian and BCD access to controller memory.
//
// The controller stores multi-byte values little-endian and floats as IEEE 754 singles. These
// helpers read and write them at a byte offset without alignment requirements.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace vir05 {

inline std::uint8_t U8(const std::uint8_t* p, int a) {
    return p[a];
}
inline std::int8_t I8(const std::uint8_t* p, int a) {
    return static_cast<std::int8_t>(p[a]);
}

inline std::uint16_t U16(const std::uint8_t* p, int a) {
    return static_cast<std::uint16_t>(p[a] | (p[a + 1] << 8));
}
inline std::int16_t I16(const std::uint8_t* p, int a) {
    return static_cast<std::int16_t>(U16(p, a));
}

inline std::uint32_t U32(const std::uint8_t* p, int a) {
    return static_cast<std::uint32_t>(p[a]) | (static_cast<std::uint32_t>(p[a + 1]) << 8) |
           (static_cast<std::uint32_t>(p[a + 2]) << 16) |
           (static_cast<std::uint32_t>(p[a + 3]) << 24);
}
inline std::int32_t I32(const std::uint8_t* p, int a) {
    return static_cast<std::int32_t>(U32(p, a));
}

inline float F32(const std::uint8_t* p, int a) {
    return std::bit_cast<float>(U32(p, a));
}

inline void PutU8(std::uint8_t* p, int a, std::uint8_t v) {
    p[a] = v;
}
inline void PutI8(std::uint8_t* p, int a, std::int8_t v) {
    p[a] = static_cast<std::uint8_t>(v);
}

inline void PutU16(std::uint8_t* p, int a, std::uint16_t v) {
    p[a] = static_cast<std::uint8_t>(v);
    p[a + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutI16(std::uint8_t* p, int a, std::int16_t v) {
    PutU16(p, a, static_cast<std::uint16_t>(v));
}

inline void PutU32(std::uint8_t* p, int a, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[a + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutI32(std::uint8_t* p, int a, std::int32_t v) {
    PutU32(p, a, static_cast<std::uint32_t>(v));
}

inline void PutF32(std::uint8_t* p, int a, float v) {
    PutU32(p, a, std::bit_cast<std::uint32_t>(v));
}

// A BCD byte holds two decimal digits, tens in the high nibble.
inline int FromBcd(std::uint8_t b) {
    return (b >> 4) * 10 + (b & 0x0F);
}
inline std::uint8_t ToBcd(int v) {
    return static_cast<std::uint8_t>(((v / 10) % 10) << 4 | (v % 10));
}
inline bool IsBcd(std::uint8_t b) {
    return (b >> 4) <= 9 && (b & 0x0F) <= 9;
}

}  // namespace vir05
