// The keyboard's way to drop a label with automatic drag mode: a key pressed on a control that
// takes drops, or that control's accessible action, drops the label there, for players who
// cannot drag.
#pragma once

#include <QString>

#include <string>

class QWidget;

namespace rt {

class Control;

// In the window of source's widget, key (a letter) on the focused control, or the accessible
// action named action, drops source on that control.
void setKeyboardDrop(Control& source, char key, const std::string& action);

struct KeyboardDropOffer {
    QString action; // empty when the widget takes no keyboard drop
    QString key;
};
KeyboardDropOffer keyboardDropOffer(const QWidget* target);

// Raises target's DragDrop with the source, as a release of the drag over its middle does;
// false when target takes no drop (no handler, disabled, or no source in its window).
bool keyboardDrop(QWidget* target);

} // namespace rt
