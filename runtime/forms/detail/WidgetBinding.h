// What the forms attach to a Qt widget: the control it stands for, and what the forms' services
// keep on it (its place in the tab order, what screen readers hear of it, the keyboard drop of
// a client area). One typed record a widget, in place of string-keyed properties.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>

class QWidget;

namespace rt {

class Control;
class KeyboardDrop;

namespace accessibility {
// How screen readers are shown a widget; None leaves it to Qt.
enum class Role { None, Client, Window, Decoration, Graphic, Button, StatusLine, Notification };
} // namespace accessibility

struct WidgetBinding {
    Control* control = nullptr;
    int tabIndex = -1; // -1: not in the tab order
    accessibility::Role role = accessibility::Role::None;
    QString blankName;                   // a button's name while its caption is empty
    QStringList announcement;            // a notification's latest words: name, then description
    QPointer<KeyboardDrop> keyboardDrop; // on a client area: what its drop key drops
};

// The widget's record, made on first use; it lives as long as the widget.
WidgetBinding& bind(QWidget* widget);
// The widget's record, or null when nothing was ever attached to it.
const WidgetBinding* bindingOf(const QWidget* widget);

} // namespace rt
