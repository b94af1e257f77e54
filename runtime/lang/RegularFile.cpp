// O_NONBLOCK keeps open() from waiting for a FIFO's writer; fstat then refuses all that is not
// a regular file, and the flag is cleared for plain blocking reads of the regular file.
#include "lang/RegularFile.h"

#include "lang/Open.h"
#include "lang/RuntimeError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace rt {
namespace {

std::string where(const std::string& path) {
    if (!path.empty() && path.front() == '/')
        return {};
    char cwd[4096];
    if (!::getcwd(cwd, sizeof cwd))
        return {};
    return std::string(" (looked in ") + cwd + ")";
}

const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "a special file";
}

} // namespace

std::string errnoText(int error) {
    return std::strerror(error);
}

std::string namedFile(const char* what, const std::string& path) {
    constexpr std::size_t Shown = 200;
    std::string text = std::string(what) + " \"";
    for (std::size_t i = 0; i < path.size() && i < Shown; ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (c < 0x20 || c == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        } else {
            text += path[i];
        }
    }
    return text + (path.size() > Shown ? "...\"" : "\"");
}

int openRegularFile(const std::string& path, const char* what) {
    const std::string name = namedFile(what, path);
    if (path.empty())
        raise(ErrorKind::FileNotFound, std::string(what) + ": the path is empty");
    // Line Input keeps one byte beyond MaxLineBytes of a longer line: such a path is longer
    // than that, by how much is not known.
    if (path.size() >= 4096)
        raise(ErrorKind::PathAccessError,
              name + ": the path is too long (" +
                  (path.size() > MaxLineBytes ? "more than " + std::to_string(MaxLineBytes)
                                              : std::to_string(path.size())) +
                  " bytes, at most 4095)");
    // The system would stop at the NUL and open some other file.
    if (path.find('\0') != std::string::npos)
        raise(ErrorKind::PathAccessError, name + ": the path holds a NUL byte");
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            raise(ErrorKind::FileNotFound, name + ": no such file" + where(path));
        if (error == EACCES)
            raise(ErrorKind::PathAccessError, name + ": permission denied, it cannot be read");
        if (error == EISDIR)
            raise(ErrorKind::PathAccessError, name + ": is a directory, not a file");
        if (error == ENOTDIR)
            raise(ErrorKind::FileNotFound, name + ": a part of the path is not a directory");
        if (error == ENAMETOOLONG)
            raise(ErrorKind::PathAccessError, name + ": a name in the path is too long");
        if (error == ELOOP)
            raise(ErrorKind::PathAccessError, name + ": the path has a loop of symbolic links");
        raise(ErrorKind::PathAccessError, name + ": cannot be opened: " + errnoText(error));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const mode_t mode = st.st_mode;
        ::close(fd);
        raise(ErrorKind::PathAccessError,
              name + ": is " + kindOf(mode) + ", not a file that can be read");
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

} // namespace rt
