// Where the program's icon lives among the embedded resources.
#pragma once

namespace kelvora {
constexpr const char* IconResource = ":/icons/kelvoradx.xpm";
}
