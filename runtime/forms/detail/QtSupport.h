// What the forms' files that talk to Qt share: text between the game's UTF-8 strings and Qt,
// and the colours the game names.
#pragma once

#include "forms/Colors.h"

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QString>

#include <algorithm>
#include <cmath>
#include <string>

namespace rt {

inline QString toQString(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
inline std::string fromQString(const QString& s) {
    return s.toUtf8().toStdString();
}

inline QColor toQColor(Color color) {
    switch (color.kind) {
    case Color::Kind::WindowBackground:
        return QApplication::palette().color(QPalette::Base);
    case Color::Kind::WindowText:
        return QApplication::palette().color(QPalette::Text);
    case Color::Kind::Rgb:
        break;
    }
    return QColor(color.r, color.g, color.b);
}

// How far apart two colours are for the eye, from 1 (the same) to 21 (black and white), the
// ratio of their relative luminances as accessibility guidelines define it.
inline double contrastRatio(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The colour a control's text is drawn in. A fixed colour as given; a colour of the scheme
// only where it reads (4.5 : 1) against the back colour: a dark scheme's white window text
// on a fixed light back colour would vanish, so black or white stands in, whichever reads.
inline QColor textColorOn(Color fore, const QColor& back) {
    const QColor given = toQColor(fore);
    if (fore.kind == Color::Kind::Rgb || contrastRatio(given, back) >= 4.5)
        return given;
    const QColor black(0, 0, 0), white(255, 255, 255);
    return contrastRatio(black, back) >= contrastRatio(white, back) ? black : white;
}

} // namespace rt
