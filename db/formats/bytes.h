#pragma once
// Integers in file bytes: little-endian as dBase, BIFF and compound files store them (and the
// stream between the Access reader's processes), big-endian for the few FoxPro memo numbers.
// The one place that reads and writes them; callers check that the bytes lie in their buffer.
// Reads copy the bytes out first: the compiler then loads them in one go, and GCC does not take
// a pointer into an empty QByteArray's one-byte buffer for an array it may not read past.
#include <bit>
#include <cstdint>
#include <cstring>

namespace formats {

inline uint16_t le16(const char* p) {
    unsigned char b[2];
    std::memcpy(b, p, 2);
    return uint16_t(b[0] | (b[1] << 8));
}
inline uint32_t le32(const char* p) {
    unsigned char b[4];
    std::memcpy(b, p, 4);
    return uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
}
inline uint64_t le64(const char* p) {
    return le32(p) | (uint64_t(le32(p + 4)) << 32);
}
inline double leDouble(const char* p) {
    return std::bit_cast<double>(le64(p));
}
inline uint16_t be16(const char* p) {
    unsigned char b[2];
    std::memcpy(b, p, 2);
    return uint16_t((b[0] << 8) | b[1]);
}
inline uint32_t be32(const char* p) {
    unsigned char b[4];
    std::memcpy(b, p, 4);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
}

inline void putLe16(char* p, uint16_t v) {
    p[0] = char(v & 0xFF);
    p[1] = char(v >> 8);
}
inline void putLe32(char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}
inline void putLe64(char* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}
inline void putBe32(char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[3 - i] = char((v >> (8 * i)) & 0xFF);
}

} // namespace formats
