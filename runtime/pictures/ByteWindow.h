// A file's bytes by offset, through a window that moves as the decoders read on.
#pragma once

#include <QtGlobal>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace rt::pictures {

// A file's bytes by offset, read through a window with pread so that the descriptor's own
// offset, where the decoder starts, stays put. at() is -1 past the end.
class Bytes {
public:
    explicit Bytes(int fd)
        : m_fd(fd)
        , m_window(64 * 1024) {}

    int at(qint64 pos) {
        if (pos < 0)
            return -1;
        if (pos < m_start || pos >= m_start + m_count) {
            if (!load(pos))
                return -1;
        }
        return m_window[std::size_t(pos - m_start)];
    }
    bool has(qint64 pos) { return at(pos) >= 0; }
    quint32 be16(qint64 pos) { return quint32(at(pos)) << 8 | quint32(at(pos + 1)); }
    quint32 be32(qint64 pos) { return be16(pos) << 16 | be16(pos + 2); }
    quint32 le16(qint64 pos) { return quint32(at(pos)) | quint32(at(pos + 1)) << 8; }
    quint32 le32(qint64 pos) { return le16(pos) | le16(pos + 2) << 16; }
    // The offset of the next byte `value` from pos on, or -1.
    qint64 find(qint64 pos, unsigned char value) {
        while (has(pos)) {
            const unsigned char* from = m_window.data() + (pos - m_start);
            const auto* hit = static_cast<const unsigned char*>(
                std::memchr(from, value, std::size_t(m_start + m_count - pos)));
            if (hit)
                return m_start + (hit - m_window.data());
            pos = m_start + m_count;
        }
        return -1;
    }

private:
    bool load(qint64 pos) {
        ssize_t n;
        do
            n = ::pread(m_fd, m_window.data(), m_window.size(), pos);
        while (n < 0 && errno == EINTR);
        if (n <= 0)
            return false;
        m_start = pos;
        m_count = n;
        return true;
    }

    int m_fd;
    std::vector<unsigned char> m_window;
    qint64 m_start = 0;
    qint64 m_count = 0;
};

} // namespace rt::pictures
