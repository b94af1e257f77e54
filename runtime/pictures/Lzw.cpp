// GIF's LZW decoder.
#include "Lzw.h"

#include <algorithm>
#include <cstring>

namespace rt::pictures {

bool skipSubBlocks(Stream& in) {
    for (;;) {
        const int size = in.get();
        if (size < 0 || !in.skip(size))
            return false;
        if (size == 0)
            return true;
    }
}

template <class Index>
Lzw<Index>::Lzw(Stream& in, int minimumCodeSize, int width)
    : m_in(in)
    , m_clear(1 << minimumCodeSize)
    , m_minimum(minimumCodeSize)
    , m_width(width)
    , m_window(std::size_t(History) + 8 * std::size_t(width) + 4096 + Slack) {
    m_length.fill(1);
    reset();
}

template <class Index> void Lzw<Index>::reset() {
    m_codeSize = m_minimum + 1;
    m_next = m_clear + 2;
    m_previous = -1;
}

template <class Index> const Index* Lzw<Index>::nextRow() {
    if (m_handedOut)
        m_rowStart += m_width;
    m_handedOut = false;
    while (m_have - m_rowStart < m_width) {
        if (m_have + 4096 + Slack > std::int64_t(m_window.size()))
            compact();
        if (!decodeCode())
            return nullptr;
    }
    m_handedOut = true;
    return m_window.data() + m_rowStart;
}

template <class Index> bool Lzw<Index>::skipRest() {
    if (m_ending == LzwEnding::Terminator)
        return true;
    return !m_fileEnded && skipSubBlocks(m_in);
}

// Drops output older than History before the current row.
template <class Index> void Lzw<Index>::compact() {
    const std::int64_t drop = std::max<std::int64_t>(0, m_rowStart - History);
    std::memmove(m_window.data(), m_window.data() + drop,
                 std::size_t(m_have - drop) * sizeof(Index));
    m_base += drop;
    m_have -= drop;
    m_rowStart -= drop;
}

// One code's string onto the end of the output; false at the end of the codes.
template <class Index> bool Lzw<Index>::decodeCode() {
    for (;;) {
        while (m_bitCount < m_codeSize) {
            if (m_blockAt == m_blockSize) {
                const int size = m_in.get();
                if (size < 0) {
                    m_fileEnded = true;
                    return end(LzwEnding::FileEnd);
                }
                if (size == 0)
                    return end(LzwEnding::Terminator);
                m_blockSize = int(m_in.read(m_block.data(), std::size_t(size)));
                m_blockAt = 0;
                if (m_blockSize < size)
                    m_fileEnded = true;
                if (m_blockSize == 0)
                    return end(LzwEnding::FileEnd);
            }
            m_bits |= std::uint32_t(m_block[std::size_t(m_blockAt++)]) << m_bitCount;
            m_bitCount += 8;
        }
        const int code = int(m_bits & ((1u << m_codeSize) - 1));
        m_bits >>= m_codeSize;
        m_bitCount -= m_codeSize;
        if (code == m_clear) {
            reset();
            continue;
        }
        if (code == m_clear + 1)
            return end(LzwEnding::EndCode);
        Index* out = m_window.data() + m_have;
        const std::int64_t start = m_base + m_have; // of this string in the output
        if (m_previous < 0) {                       // the first code after a clear is a literal
            if (code > m_clear)
                return end(LzwEnding::BadCode);
            *out = Index(code);
            ++m_have;
            m_previous = code;
            m_previousStart = start;
            return true;
        }
        int length;
        if (code < m_clear) {
            length = 1;
            *out = Index(code);
        } else if (code < m_next && code < 4096) {
            length = m_length[std::size_t(code)];
            copyString(out, code, length);
        } else if (code == m_next && m_next < 4096) { // KwKwK: the last string and its start
            length = m_length[std::size_t(m_previous)] + 1;
            const Index* from = m_window.data() + (m_previousStart - m_base);
            for (int i = 0; i < length - 1; ++i) // from ends where out begins
                out[i] = from[i];
            out[length - 1] = out[0];
        } else {
            return end(LzwEnding::BadCode);
        }
        m_have += length;
        if (m_next < 4096) {
            const std::size_t n = std::size_t(m_next);
            m_prefix[n] = std::uint16_t(m_previous);
            m_suffix[n] = out[0];
            m_length[n] = std::uint16_t(m_length[std::size_t(m_previous)] + 1);
            m_start[n] = m_previousStart;
            if (++m_next == 1 << m_codeSize && m_codeSize < 12)
                ++m_codeSize;
        }
        m_previous = code;
        m_previousStart = start;
        return true;
    }
}

template <class Index> void Lzw<Index>::copyString(Index* out, int code, int length) {
    const std::int64_t from = m_start[std::size_t(code)] - m_base;
    if (from < 0) { // no longer in the window
        int walk = code;
        for (int i = length - 1; i > 0; --i) {
            out[i] = m_suffix[std::size_t(walk)];
            walk = m_prefix[std::size_t(walk)];
        }
        out[0] = Index(walk);
        return;
    }
    const Index* source = m_window.data() + from; // ends at or before out
    if (length * int(sizeof(Index)) <= 8) {
        unsigned char eight[8];
        std::memcpy(eight, source, 8);
        std::memcpy(out, eight, 8);
    } else {
        std::memcpy(out, source, std::size_t(length) * sizeof(Index));
    }
}

template class Lzw<std::uint8_t>;
template class Lzw<std::uint16_t>;

} // namespace rt::pictures
