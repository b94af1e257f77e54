// Sequential text input on POSIX file descriptors, so that a path is used exactly as read
// and nothing that is not a regular file (a FIFO, a device) is ever waited on.
#include "lang/Open.h"

#include "lang/RegularFile.h"
#include "lang/RuntimeError.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace rt {
namespace {

struct InputFile {
    int fd = -1;
    std::string name;
    std::array<char, 4096> buffer{};
    std::size_t begin = 0;
    std::size_t end = 0;
    bool atStart = true;
    int linesRead = 0;

    // The next byte, or -1 at the end of the file.
    int get() {
        if (begin == end && !fill())
            return -1;
        return static_cast<unsigned char>(buffer[begin++]);
    }
    int peek() {
        if (begin == end && !fill())
            return -1;
        return static_cast<unsigned char>(buffer[begin]);
    }
    // Skips to the end of the line and returns the byte that ends it, or -1 at the end of the
    // file.
    int skipLine() {
        for (;;) {
            if (begin == end && !fill())
                return -1;
            const char* from = buffer.data() + begin;
            const char* stop = std::find_if(from, static_cast<const char*>(buffer.data() + end),
                                            [](char c) { return c == '\n' || c == '\r'; });
            begin += std::size_t(stop - from);
            if (begin < end)
                return get();
        }
    }
    bool fill() {
        for (;;) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n > 0) {
                begin = 0;
                end = static_cast<std::size_t>(n);
                return true;
            }
            if (n == 0)
                return false;
            const int error = errno;
            if (error != EINTR)
                raise(ErrorKind::PathAccessError, name + ": cannot be read: " + errnoText(error));
        }
    }
};

InputFile g_file;

} // namespace

void Open(const std::string& path) {
    Close();
    g_file.fd = openRegularFile(path, "file");
    g_file.name = namedFile("file", path);
    g_file.atStart = true;
    g_file.linesRead = 0;
}

std::string LineInput() {
    if (g_file.fd < 0)
        raise(ErrorKind::PathAccessError, "Line Input: no file is open");
    InputFile& f = g_file;
    if (f.atStart) {
        f.atStart = false;
        // A regular file's first read holds its first bytes whole, so the mark is seen at once.
        if (f.peek() >= 0 && f.end - f.begin >= 3 && f.buffer[f.begin] == '\xEF' &&
            f.buffer[f.begin + 1] == '\xBB' && f.buffer[f.begin + 2] == '\xBF')
            f.begin += 3;
    }
    int c = f.get();
    if (c < 0 && f.linesRead == 0)
        raise(ErrorKind::InputPastEndOfFile, f.name + ": is empty, line 1 is missing");
    if (c < 0)
        raise(ErrorKind::InputPastEndOfFile, f.name + ": has only " + std::to_string(f.linesRead) +
                                                 " line" + (f.linesRead == 1 ? "" : "s") +
                                                 ", line " + std::to_string(f.linesRead + 1) +
                                                 " is missing");
    std::string line;
    while (c >= 0 && c != '\n' && c != '\r' && line.size() <= MaxLineBytes) {
        line.push_back(static_cast<char>(c));
        c = f.get();
    }
    if (line.size() > MaxLineBytes && c >= 0 && c != '\n' && c != '\r')
        c = f.skipLine();
    if (c == '\r' && f.peek() == '\n')
        f.get();
    ++f.linesRead;
    return line;
}

void Close() {
    if (g_file.fd >= 0)
        ::close(g_file.fd);
    g_file.fd = -1;
    g_file.begin = g_file.end = 0;
}

} // namespace rt
