// O_NONBLOCK keeps open() from waiting for a FIFO's writer; fstat then refuses all that is not
// a regular file, and the flag is cleared for plain blocking reads of the regular file.
#include "FileOpen.h"

#include "RuntimeError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

int openRegularFile(const std::string& path, const char* what) {
    const std::string name = std::string(what) + " \"" + path + "\"";
    if (path.empty())
        raise(ErrorKind::FileNotFound, std::string(what) + ": the path is empty");
    if (path.size() >= 4096)
        raise(ErrorKind::PathAccessError, name.substr(0, 200) + "...: the path is too long");
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            raise(ErrorKind::FileNotFound, name + ": no such file" + where(path));
        if (error == EACCES)
            raise(ErrorKind::PathAccessError, name + ": permission denied, it cannot be read");
        if (error == EISDIR)
            raise(ErrorKind::PathAccessError, name + ": is a directory, not a file");
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
