// Colours and fonts as the windows' definitions give them.
#pragma once

#include <string>
#include <vector>

namespace rt {

// A fixed colour, or one of the system colours of the desktop's colour scheme.
struct Color {
    enum class Kind { Rgb, WindowBackground, WindowText };
    Kind kind = Kind::Rgb;
    int r = 0, g = 0, b = 0;

    static Color rgb(int r, int g, int b) { return {Kind::Rgb, r, g, b}; }
    static Color windowBackground() { return {Kind::WindowBackground}; }
    static Color windowText() { return {Kind::WindowText}; }
};

// A font by faces in order of preference (the first installed one is used) and point size.
struct Font {
    std::vector<std::string> faces;
    double points = 0;
};

} // namespace rt
