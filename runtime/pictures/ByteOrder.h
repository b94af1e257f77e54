// Multi-byte values in a file's byte order.
#pragma once

#include <cstdint>

namespace rt::pictures {

inline std::uint32_t be16(const unsigned char* p) {
    return std::uint32_t(p[0]) << 8 | p[1];
}
inline std::uint32_t be32(const unsigned char* p) {
    return be16(p) << 16 | be16(p + 2);
}
inline std::uint32_t le16(const unsigned char* p) {
    return p[0] | std::uint32_t(p[1]) << 8;
}
inline std::uint32_t le32(const unsigned char* p) {
    return le16(p) | le16(p + 2) << 16;
}

// Rows of `bits` a pixel padded to four bytes, as BMP stores them.
inline std::int64_t paddedRowBytes(std::int64_t width, int bits) {
    return (width * bits + 31) / 32 * 4;
}

} // namespace rt::pictures
