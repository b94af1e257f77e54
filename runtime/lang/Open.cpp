// Sequential text input on POSIX file descriptors, so that a path is used exactly as read
// and nothing that is not a regular file (a FIFO, a device) is ever waited on.
#include "lang/Open.h"

#include "InputFile.h"
#include "LangState.h"
#include "lang/RegularFile.h"
#include "lang/RuntimeError.h"

#include <unistd.h>

namespace rt {

void Open(const std::string& path) {
    Close();
    InputFile& file = langState().file;
    file.fd = openRegularFile(path, "file");
    file.name = namedFile("file", path);
    file.atStart = true;
    file.linesRead = 0;
}

std::string LineInput() {
    InputFile& f = langState().file;
    if (f.fd < 0)
        raise(ErrorKind::PathAccessError, "Line Input: no file is open");
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
    InputFile& f = langState().file;
    if (f.fd >= 0)
        ::close(f.fd);
    f.fd = -1;
    f.begin = f.end = 0;
}

} // namespace rt
