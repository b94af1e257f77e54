// The picture file's bytes, read once; every decoder reads them from here, never from the file.
#pragma once

#include "Budget.h"

#include <cstdint>
#include <cstring>

namespace rt::pictures {

class Snapshot {
public:
    explicit Snapshot(Buffer<unsigned char> bytes)
        : m_bytes(std::move(bytes)) {}

    std::int64_t size() const { return std::int64_t(m_bytes.size()); }
    const unsigned char* data() const { return m_bytes.data(); }
    bool has(std::int64_t pos) const { return pos >= 0 && pos < size(); }
    // The byte at pos, or -1 outside the file.
    int at(std::int64_t pos) const { return has(pos) ? m_bytes[std::size_t(pos)] : -1; }
    // Multi-byte values: 0 for bytes outside the file (check has() first where it matters).
    std::uint32_t be16(std::int64_t pos) const { return byte(pos) << 8 | byte(pos + 1); }
    std::uint32_t be32(std::int64_t pos) const { return be16(pos) << 16 | be16(pos + 2); }
    std::uint32_t le16(std::int64_t pos) const { return byte(pos) | byte(pos + 1) << 8; }
    std::uint32_t le32(std::int64_t pos) const { return le16(pos) | le16(pos + 2) << 16; }
    // The offset of the next byte `value` from pos on, or -1.
    std::int64_t find(std::int64_t pos, unsigned char value) const {
        if (!has(pos))
            return -1;
        const auto* hit = static_cast<const unsigned char*>(
            std::memchr(data() + pos, value, std::size_t(size() - pos)));
        return hit ? hit - data() : -1;
    }

private:
    std::uint32_t byte(std::int64_t pos) const { return has(pos) ? m_bytes[std::size_t(pos)] : 0; }

    Buffer<unsigned char> m_bytes;
};

} // namespace rt::pictures
