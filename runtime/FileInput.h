// Sequential text input: Open for input as file number 1, Line Input, Close.
#pragma once

#include <string>

namespace rt {

// Opens a regular file for reading. Paths go to the file system byte for byte.
void Open(const std::string& path);

// One line without its line end. Lines end with CR LF, LF or a lone CR; the last may end
// with the end of the file. A UTF-8 byte-order mark at the start of the file is skipped.
// Reading past the end, or a line longer than MaxLineBytes, is a run-time error.
std::string LineInput();

// Closes all open files.
void Close();

constexpr std::size_t MaxLineBytes = 4096;

} // namespace rt
