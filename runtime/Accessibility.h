// What screen readers find of the windows and controls: each kind of widget is marked here
// once, when its control is made, and described to AT-SPI through Qt's accessibility.
#pragma once

class QLabel;
class QWidget;

namespace rt::accessibility {

// A window's client area: its controls, less the decoration.
void markClient(QWidget* client);
// Drawn decoration (the shapes): left out of the tree.
void markDecoration(QWidget* widget);
// A picture: a graphic, named by its control.
void markGraphic(QWidget* widget);

// After a label's text has changed: a named label offers its text as its description.
void labelTextChanged(QLabel* label);

} // namespace rt::accessibility
