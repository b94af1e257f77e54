// The picture decoded last, kept by path, shown size and the hash of the file's bytes.
#pragma once

#include <QImage>
#include <QSize>

#include <cstdint>
#include <memory>
#include <string>

namespace rt::pictures {

// Every new game reads the checked set's picture again; the same bytes would decode to the
// same pixels, and decoding a large JPEG costs tens of milliseconds at any shown size. The
// bytes, not the file's times, tell: a file changed in place keeps its times. Its owner is the
// image control that shows the picture.
class DecodeCache {
public:
    // Whether a picture was kept for this path and size (its bytes are then worth hashing).
    bool has(const std::string& path, QSize shown) const {
        return m_image && m_path == path && m_shown == shown;
    }
    // Bytes are known by the hash of their start (see Stream::headHash) and of them all.
    bool headMatches(std::uint64_t headHash) const { return m_image && m_headHash == headHash; }
    std::shared_ptr<const QImage> find(const std::string& path, QSize shown, std::uint64_t headHash,
                                       std::uint64_t hash) const {
        return has(path, shown) && headMatches(headHash) && m_hash == hash ? m_image : nullptr;
    }
    void remember(const std::string& path, QSize shown, std::uint64_t headHash, std::uint64_t hash,
                  std::shared_ptr<const QImage> image) {
        m_path = path;
        m_shown = shown;
        m_headHash = headHash;
        m_hash = hash;
        m_image = std::move(image);
    }
    void forget() { *this = DecodeCache(); }

private:
    std::string m_path;
    QSize m_shown;
    std::uint64_t m_headHash = 0;
    std::uint64_t m_hash = 0;
    std::shared_ptr<const QImage> m_image;
};

} // namespace rt::pictures
