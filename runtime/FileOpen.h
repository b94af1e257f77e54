// Opening files for reading without ever blocking, with errors that say what is wrong.
#pragma once

#include <string>

namespace rt {

// Opens path read-only and returns its descriptor. Anything but a regular file (a directory,
// a FIFO, a device) is refused before it is read. `what` names the file in messages.
int openRegularFile(const std::string& path, const char* what);

std::string errnoText(int error);

} // namespace rt
