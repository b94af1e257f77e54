// A file open for Line Input: its descriptor and a buffer read ahead.
#pragma once

#include "lang/RegularFile.h"
#include "lang/RuntimeError.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <string>

namespace rt {

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

} // namespace rt
