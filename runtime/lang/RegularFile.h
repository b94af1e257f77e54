// Opening regular files for reading without ever blocking, with errors that say what is wrong.
#pragma once

#include <string>

namespace rt {

// Opens path read-only and returns its descriptor. Anything but a regular file (a directory,
// a FIFO, a device) is refused before it is read. `what` names the file in messages.
int openRegularFile(const std::string& path, const char* what);

// `what "path"` for messages: control bytes (a NUL, a line end) shown as \xNN so that the
// report shows the whole path, and a very long path cut short. Other bytes stay as they are.
std::string namedFile(const char* what, const std::string& path);

std::string errnoText(int error);

} // namespace rt
