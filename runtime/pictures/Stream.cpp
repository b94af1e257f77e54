// Reading a picture file once, in chunks, with read(2) (never mapped: a rewrite or truncation
// would show through).
#include "Stream.h"

#include "Fault.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace rt::pictures {

Stream::Stream(int fd, Budget& budget, std::int64_t sizeHint)
    : m_budget(budget)
    , m_fd(fd)
    , m_sizeHint(sizeHint)
    , m_buffer(BudgetAllocator<unsigned char>(budget)) {
    XXH3_INITSTATE(&m_hash);
    XXH3_64bits_reset(&m_hash);
    m_buffer.resize(2 * ChunkSize);
    m_at = m_end = m_buffer.data();
}

Stream::Stream(std::span<const unsigned char> bytes, Budget& budget)
    : m_budget(budget)
    , m_sizeHint(std::int64_t(bytes.size()))
    , m_buffer(BudgetAllocator<unsigned char>(budget))
    , m_memory(bytes) {
    XXH3_INITSTATE(&m_hash);
    XXH3_64bits_reset(&m_hash);
    hashed(bytes.data(), bytes.size());
    m_at = bytes.data();
    m_end = m_at + bytes.size();
    m_ended = true;
}

void Stream::hashed(const unsigned char* bytes, std::size_t count) {
    const std::int64_t head = std::int64_t(HeadHashBytes);
    if (m_hashed < head && m_hashed + std::int64_t(count) >= head) {
        const std::size_t first = std::size_t(head - m_hashed);
        XXH3_64bits_update(&m_hash, bytes, first);
        m_headHash = XXH3_64bits_digest(&m_hash);
        bytes += first;
        count -= first;
        m_hashed = head;
    }
    XXH3_64bits_update(&m_hash, bytes, count);
    m_hashed += std::int64_t(count);
}

std::uint64_t Stream::hash() const {
    return XXH3_64bits_digest(&m_hash);
}

std::uint64_t Stream::headHash() const {
    return m_hashed >= std::int64_t(HeadHashBytes) ? m_headHash : hash();
}

std::size_t Stream::fromFile(unsigned char* into, std::size_t count) {
    std::size_t done = 0;
    while (done < count && !m_ended) {
        const ssize_t n = ::read(m_fd, into + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(FaultKind::CannotRead, "cannot be read");
        if (n == 0)
            m_ended = true;
        done += std::size_t(n > 0 ? n : 0);
    }
    hashed(into, done);
    return done;
}

// Moves what is left to the front of the buffer and reads on behind it, a chunk at least.
bool Stream::refill() {
    if (m_fd < 0 || m_ended)
        return m_at < m_end;
    const std::size_t left = std::size_t(m_end - m_at);
    if (m_buffer.size() > 2 * ChunkSize && left <= ChunkSize) { // what prefetch held is read
        Buffer<unsigned char> smaller(2 * ChunkSize, 0, BudgetAllocator<unsigned char>(m_budget));
        std::memcpy(smaller.data(), m_at, left);
        m_buffer.swap(smaller);
    } else {
        std::memmove(m_buffer.data(), m_at, left);
    }
    const std::size_t got = fromFile(m_buffer.data() + left, m_buffer.size() - left);
    m_at = m_buffer.data();
    m_end = m_at + left + got;
    m_bufferStart = 0;
    return m_at < m_end;
}

std::span<const unsigned char> Stream::chunk() {
    if (m_at == m_end && !refill())
        return {};
    std::span<const unsigned char> bytes(m_at, std::size_t(m_end - m_at));
    m_bufferStart = std::size_t(m_at - (m_fd >= 0 ? m_buffer.data() : m_memory.data()));
    m_position += std::int64_t(bytes.size());
    m_at = m_end;
    return bytes;
}

void Stream::giveBack(std::size_t count) {
    const unsigned char* base = m_fd >= 0 ? m_buffer.data() : m_memory.data();
    count = std::min(count, std::size_t(m_at - (base + m_bufferStart)));
    m_at -= count;
    m_position -= std::int64_t(count);
}

std::size_t Stream::read(void* into, std::size_t count) {
    auto* out = static_cast<unsigned char*>(into);
    std::size_t done = 0;
    while (done < count) {
        if (m_at == m_end && !refill())
            break;
        const std::size_t n = std::min(count - done, std::size_t(m_end - m_at));
        std::memcpy(out + done, m_at, n);
        m_at += n;
        done += n;
    }
    m_position += std::int64_t(done);
    return done;
}

int Stream::peek(std::size_t ahead) {
    if (std::size_t(m_end - m_at) <= ahead && ahead < ChunkSize)
        refill();
    return std::size_t(m_end - m_at) > ahead ? m_at[ahead] : -1;
}

bool Stream::skip(std::int64_t count) {
    while (count > 0) {
        if (m_at == m_end && !refill())
            return false;
        const std::int64_t n = std::min<std::int64_t>(count, m_end - m_at);
        m_at += n;
        m_position += n;
        count -= n;
    }
    return true;
}

std::span<const unsigned char> Stream::head(std::size_t count) {
    peek(std::min(count, ChunkSize) - 1);
    return {m_at, std::min(count, std::size_t(m_end - m_at))};
}

bool Stream::prefetch(std::size_t limit) {
    if (m_fd < 0)
        return true;
    const std::size_t left = std::size_t(m_end - m_at);
    if (left >= limit || m_ended)
        return m_ended;
    // Room for the size the file had at once; grown a chunk at a time past it, so that a file
    // larger than it said is caught at the limit.
    const std::size_t expected = std::size_t(std::max<std::int64_t>(leftHint(), 0)) + 1;
    std::memmove(m_buffer.data(), m_at, left);
    if (m_buffer.size() < std::min(limit, left + expected))
        m_buffer.resize(std::min(limit, left + expected));
    std::size_t have = left;
    while (!m_ended && have < limit) {
        if (m_buffer.size() == have)
            m_buffer.resize(std::min(limit, have + ChunkSize));
        have += fromFile(m_buffer.data() + have, m_buffer.size() - have);
    }
    m_at = m_buffer.data();
    m_end = m_at + have;
    m_bufferStart = 0;
    return m_ended;
}

void Stream::drain() {
    m_position += m_end - m_at;
    m_at = m_end;
    if (m_fd < 0)
        return;
    while (!m_ended)
        m_position += std::int64_t(fromFile(m_buffer.data(), m_buffer.size()));
    m_at = m_end = m_buffer.data();
}

void Stream::rewind() {
    if (m_fd < 0 || ::lseek(m_fd, 0, SEEK_SET) != 0) {
        if (m_fd >= 0)
            fail(FaultKind::CannotRead, "cannot be read");
        m_at = m_memory.data();
        m_position = 0;
        return;
    }
    XXH3_64bits_reset(&m_hash);
    m_hashed = 0;
    m_position = 0;
    m_ended = false;
    if (m_buffer.size() != 2 * ChunkSize)
        Buffer<unsigned char>(2 * ChunkSize, 0, BudgetAllocator<unsigned char>(m_budget))
            .swap(m_buffer);
    m_at = m_end = m_buffer.data();
    m_bufferStart = 0;
}

Buffer<unsigned char> Stream::rest() {
    Buffer<unsigned char> bytes{BudgetAllocator<unsigned char>(m_budget)};
    if (m_fd < 0) {
        bytes.assign(m_at, m_end);
        m_position += m_end - m_at;
        m_at = m_end;
        return bytes;
    }
    // Room for the size the file had, then doubled as it grows (past the budget, it throws).
    std::size_t have = std::size_t(m_end - m_at);
    const std::size_t expected = std::size_t(std::max<std::int64_t>(leftHint(), 0)) + 1;
    if (expected > m_budget.left())
        throw OverBudget();
    bytes.resize(std::max(have, expected));
    std::memcpy(bytes.data(), m_at, have);
    Buffer<unsigned char>(BudgetAllocator<unsigned char>(m_budget)).swap(m_buffer);
    m_at = m_end = nullptr;
    while (!m_ended) {
        if (have == bytes.size())
            bytes.resize(bytes.size() * 2);
        have += fromFile(bytes.data() + have, bytes.size() - have);
    }
    bytes.resize(have);
    m_position += std::int64_t(have);
    return bytes;
}

} // namespace rt::pictures
