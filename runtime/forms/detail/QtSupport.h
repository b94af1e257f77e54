// What the forms' files that talk to Qt share: text between the game's UTF-8 strings and Qt,
// and the colours the game names.
#pragma once

#include "forms/Colors.h"

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QString>

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

} // namespace rt
