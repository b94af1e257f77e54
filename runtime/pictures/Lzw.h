// GIF's LZW codes, read sub-block by sub-block from the stream and unpacked a row at a time.
#pragma once

#include "Stream.h"

#include <array>
#include <cstdint>
#include <vector>

namespace rt::pictures {

// Past data in GIF's sub-blocks (a size byte, then that many bytes, up to a size of 0); false
// when the file ends first.
bool skipSubBlocks(Stream& in);

// How the codes ended before the last row, if they did.
enum class LzwEnding { None, EndCode, Terminator, FileEnd, BadCode };

// Index is a byte for minimum code sizes up to 8; larger ones (up to 12, as browsers take) give
// wider literals. Each code's string was output once before, at the start of the code before the
// one that made it: it is copied from there while that is still in the window of recent output,
// and otherwise unwound through the table of prefixes.
template <class Index> class Lzw {
public:
    // The stream stands at the first sub-block of the codes.
    Lzw(Stream& in, int minimumCodeSize, int width);
    // What one decoder holds, for the budget.
    static std::size_t bytesFor(int width) {
        return sizeof(Lzw) +
               (std::size_t(History) + 8 * std::size_t(width) + 4096 + Slack) * sizeof(Index);
    }

    // The next row's indices, `width` of them, or null when the codes end before it is whole
    // (then ending() says how).
    const Index* nextRow();
    LzwEnding ending() const { return m_ending; }
    // Past the rest of the codes' sub-blocks; false when the file ends first.
    bool skipRest();

private:
    // Output kept before the current row for copying strings from, and room to copy 8 at once.
    static constexpr int History = 32768;
    static constexpr int Slack = 16;

    void reset();
    void compact();
    bool decodeCode();
    void copyString(Index* out, int code, int length);
    bool end(LzwEnding how) {
        m_ending = how;
        return false;
    }

    Stream& m_in;
    std::array<unsigned char, 255> m_block{}; // the current sub-block
    int m_blockSize = 0;
    int m_blockAt = 0;
    bool m_fileEnded = false;
    std::uint32_t m_bits = 0;
    int m_bitCount = 0;
    const int m_clear;
    const int m_minimum;
    const int m_width;
    int m_codeSize = 0;
    int m_next = 0;
    int m_previous = -1;
    std::int64_t m_previousStart = 0;
    LzwEnding m_ending = LzwEnding::None;
    // Each code's string: its prefix's string and one more index, m_length long (at most
    // 4096), found in the output at m_start.
    std::array<std::uint16_t, 4096> m_prefix{};
    std::array<Index, 4096> m_suffix{};
    std::array<std::uint16_t, 4096> m_length{};
    std::array<std::int64_t, 4096> m_start{};
    // The output: rows handed out and the strings that run past them.
    std::vector<Index> m_window;
    std::int64_t m_base = 0; // where m_window[0] stands in the output
    std::int64_t m_have = 0;
    std::int64_t m_rowStart = 0;
    bool m_handedOut = false;
};

extern template class Lzw<std::uint8_t>;
extern template class Lzw<std::uint16_t>;

} // namespace rt::pictures
