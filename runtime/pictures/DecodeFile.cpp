// The picture library's entries: open, stream, tell the format by its first bytes, and read.
#include "PictureFile.h"

#include "Formats.h"
#include "Limits.h"
#include "lang/RegularFile.h"
#include "lang/RuntimeError.h"

#include <sys/stat.h>
#include <unistd.h>

namespace rt::pictures {
namespace {

// The reader the first bytes name, on the stream from its start.
Decoded decodeStream(Stream& in, Budget& budget, QSize shown) {
    Load load{in, budget, shown, {}, ""};
    try {
        const std::span<const unsigned char> head = in.head(HeadBytes);
        if (head.empty())
            return {nullptr, {FaultKind::Empty, "the file is empty"}};
        const PictureFormat* format = formatOf(head);
        if (!format)
            return {nullptr, {FaultKind::NotAPicture, "is not " + formatsRead() + " picture"}};
        load.format = format->name;
        QImage image = format->read(load);
        if (image.isNull())
            return {nullptr, damaged(format->name)};
        return {std::make_shared<const QImage>(std::move(image)), {}};
    } catch (const Fault& fault) {
        return {nullptr, fault};
    } catch (const std::bad_alloc&) {
        if (load.size.isEmpty())
            return {nullptr,
                    {FaultKind::TooLarge, "is too large (more than " +
                                              std::to_string(LoadBudget >> 20) + " MB to decode)"}};
        return {nullptr, tooLarge(load.size.width(), load.size.height())};
    }
}

// The file open at fd, unless its bytes are those of the picture decoded last at this path and
// size. Its start is read ahead and kept while the start's hash is checked, so that a file
// changed there (as a save changes it) is decoded from what was read: read once. A file whose
// start is unchanged is hashed to its end on its way past, and read again only when it changed
// beyond its start.
Decoded decodeOpen(int fd, std::int64_t size, const std::string& path, QSize shown,
                   DecodeCache& cache) {
    Budget budget(LoadBudget);
    try {
        Stream in(fd, budget, size);
        if (cache.has(path, shown)) {
            const bool whole = in.prefetch(Stream::HeadHashBytes);
            if (cache.headMatches(in.headHash())) {
                if (!whole)
                    in.drain();
                if (auto known = cache.find(path, shown, in.headHash(), in.hash()))
                    return {known, {}};
                if (!whole)
                    in.rewind();
            }
        }
        cache.forget();
        Decoded decoded = decodeStream(in, budget, shown);
        if (decoded.picture) {
            in.drain(); // the hash is the whole file's
            cache.remember(path, shown, in.headHash(), in.hash(), decoded.picture);
        }
        return decoded;
    } catch (const Fault& fault) {
        return {nullptr, fault};
    } catch (const std::bad_alloc&) {
        return {nullptr,
                {FaultKind::TooLarge,
                 "is too large (more than " + std::to_string(LoadBudget >> 20) + " MB to decode)"}};
    }
}

} // namespace

Decoded decodeBytes(std::span<const unsigned char> bytes, QSize shown) {
    Budget budget(LoadBudget);
    try {
        Stream in(bytes, budget);
        return decodeStream(in, budget, shown);
    } catch (const std::bad_alloc&) {
        return {nullptr,
                {FaultKind::TooLarge,
                 "is too large (more than " + std::to_string(LoadBudget >> 20) + " MB to decode)"}};
    }
}

std::shared_ptr<const QImage> decodeFile(const std::string& path, QSize shown, DecodeCache& last) {
    const std::string name = namedFile("picture", path);
    const int fd = openRegularFile(path, "picture");
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        raise(ErrorKind::PathAccessError, name + ": cannot be read");
    }
    Decoded decoded = decodeOpen(fd, st.st_size, path, shown, last);
    ::close(fd);
    if (!decoded.picture)
        raise(decoded.fault.kind == FaultKind::CannotRead ? ErrorKind::PathAccessError
                                                          : ErrorKind::InvalidPicture,
              name + ": " + decoded.fault.cause);
    return decoded.picture;
}

} // namespace rt::pictures
