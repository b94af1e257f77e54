// Reading a picture file into its snapshot.
#include "Snapshot.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace rt::pictures {

bool Snapshot::read(int fd, Budget& budget, Snapshot& into) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    // The size may change while we read: read to the end whatever it is, growing as needed.
    std::size_t capacity = std::size_t(std::max<off_t>(st.st_size, 0)) + 1;
    if (capacity > budget.left())
        throw OverBudget();
    Buffer<unsigned char>& bytes = into.m_bytes;
    bytes.resize(capacity);
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size())
            bytes.resize(bytes.size() * 2); // the file grew: throws once past the budget
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    bytes.resize(done);
    return true;
}

} // namespace rt::pictures
