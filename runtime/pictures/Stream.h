// A picture file's bytes as they come, front to back, read once: in chunks from the open file
// (or from bytes in memory), each charged to the load's budget, hashed as it streams by.
#pragma once

#include "Budget.h"

#define XXH_STATIC_LINKING_ONLY // the hash state inside the stream, not on the heap
#include <xxhash.h>

#include <cstdint>
#include <span>

namespace rt::pictures {

class Stream {
public:
    // What is read from the file at once, and what a reader may look ahead by.
    static constexpr std::size_t ChunkSize = 64 * 1024;

    // The file open at fd (left open), of about `sizeHint` bytes when it was opened.
    Stream(int fd, Budget& budget, std::int64_t sizeHint);
    // Bytes that are already in memory (not copied: they must outlive the stream).
    Stream(std::span<const unsigned char> bytes, Budget& budget);
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // The next bytes, as many as are at hand (at least one), consumed; empty at the end.
    std::span<const unsigned char> chunk();
    // The last `count` bytes of the last chunk are to be read again (`count` at most its size).
    void giveBack(std::size_t count);
    // Up to `count` bytes into `into`; fewer only at the end.
    std::size_t read(void* into, std::size_t count);
    // The next byte, or -1 at the end.
    int get() {
        if (m_at == m_end && !refill())
            return -1;
        ++m_position;
        return *m_at++;
    }
    // The byte `ahead` places on without consuming it (ahead < ChunkSize), or -1 past the end.
    int peek(std::size_t ahead = 0);
    // Passes over `count` bytes; false when the file ends first.
    bool skip(std::int64_t count);
    // The bytes of the file from its start, up to `count`, without consuming any (only before
    // anything is read): what a format is told by.
    std::span<const unsigned char> head(std::size_t count);
    // The offset of the next byte in the file.
    std::int64_t position() const { return m_position; }
    // The file's size when it was opened; the file may end before or after it.
    std::int64_t sizeHint() const { return m_sizeHint; }
    // Bytes not yet consumed, as far as the size when opened tells.
    std::int64_t leftHint() const { return m_sizeHint - m_position; }

    // The whole file from here on, held in memory and charged to the budget: for a format that
    // must seek. Consumes the stream.
    Buffer<unsigned char> rest();

    // Reads up to `limit` bytes ahead into memory, to be read from there; true when that was
    // the whole file (then hash() is the whole file's).
    bool prefetch(std::size_t limit);
    // Reads and hashes the rest of the file without keeping it.
    void drain();
    // Back to the file's start, as if nothing had been read: for a check of a large file's hash
    // before it is decoded.
    void rewind();
    // The hash of every byte read so far.
    std::uint64_t hash() const;
    // The hash of the file's first HeadHashBytes, or of all of it when it is shorter (once read).
    std::uint64_t headHash() const;
    static constexpr std::size_t HeadHashBytes = std::size_t(1) << 20;

private:
    bool refill();
    std::size_t fromFile(unsigned char* into, std::size_t count);
    void hashed(const unsigned char* bytes, std::size_t count);

    Budget& m_budget;
    int m_fd = -1;
    std::int64_t m_sizeHint = 0;
    std::int64_t m_position = 0;
    bool m_ended = false; // the file has no more bytes to give
    Buffer<unsigned char> m_buffer;
    std::size_t m_bufferStart = 0; // where the last chunk began in the buffer
    const unsigned char* m_at = nullptr;
    const unsigned char* m_end = nullptr;
    std::span<const unsigned char> m_memory; // the bytes left, for a stream over memory
    XXH3_state_t m_hash;
    std::int64_t m_hashed = 0; // bytes hashed
    std::uint64_t m_headHash = 0;
};

} // namespace rt::pictures
