// Sequential text input: Open for input as file number 1, Line Input, Close.
#pragma once

#include <string>

namespace rt {

// Opens a regular file for reading. Paths go to the file system byte for byte.
void Open(const std::string& path);

// One line without its line end. Lines end with CR LF, LF or a lone CR; the last may end
// with the end of the file. A UTF-8 byte-order mark at the start of the file is skipped.
// Reading past the end is a run-time error. A line is not examined here, whatever its length:
// one longer than MaxLineBytes comes back as its first MaxLineBytes + 1 bytes (the rest is
// skipped, so memory stays bounded), and fails where it is used.
std::string LineInput();

// Closes all open files.
void Close();

// Far beyond any path the system can open, so no line that could be used is cut.
constexpr std::size_t MaxLineBytes = 1024 * 1024;

} // namespace rt
