// A whole picture file held in memory, for a format whose structure points back and forth (HEIF's
// boxes): read once from the stream, charged to the budget, then read from here only.
#pragma once

#include "Budget.h"

#include <cstdint>

namespace rt::pictures {

class Snapshot {
public:
    explicit Snapshot(Buffer<unsigned char> bytes)
        : m_bytes(std::move(bytes)) {}

    std::int64_t size() const { return std::int64_t(m_bytes.size()); }
    const unsigned char* data() const { return m_bytes.data(); }
    // The byte at pos, or -1 outside the file.
    int at(std::int64_t pos) const {
        return pos >= 0 && pos < size() ? m_bytes[std::size_t(pos)] : -1;
    }

private:
    Buffer<unsigned char> m_bytes;
};

} // namespace rt::pictures
