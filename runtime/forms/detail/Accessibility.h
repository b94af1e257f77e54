// What screen readers find of the windows and controls: each kind of widget is marked here
// once, when its control is made, and described to AT-SPI through Qt's accessibility; what
// they hear when a handler changes the board without the player moving; where the focus goes
// when the control holding it is disabled.
#pragma once

class QLabel;
class QMainWindow;
class QString;
class QWidget;

namespace rt::accessibility {

// A window's client area: its controls, less the decoration.
void markClient(QWidget* client);
// A window: its title carries its language.
void markWindow(QMainWindow* window);
// Drawn decoration (the shapes): left out of the tree.
void markDecoration(QWidget* widget);
// A picture: a graphic, named by its control.
void markGraphic(QWidget* widget);
// A button: named by its caption, or by blankName while the caption is empty; it offers the
// actions Press, SetFocus and, where its window has one, the keyboard drop.
void markButton(QWidget* button);
void setBlankName(QWidget* button, const QString& blankName);
// The status line of its window: a change of its text is announced at once, together with the
// new caption of the focused button, and the focus rests on it when the board is frozen.
void markStatusLine(QLabel* label);

// After a control's caption has been set, changed or not.
void captionSet(QWidget* widget, bool changed);
// Before a control is disabled: if it holds the focus and its window has a status line, the
// focus moves there, instead of running on to the next control.
void aboutToDisable(QWidget* widget);

// "ja" for text in Japanese script, else empty.
QString languageOf(const QString& text);

} // namespace rt::accessibility
