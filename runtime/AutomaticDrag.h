// Automatic drag mode of a label: a press starts a drag at once, an outline follows the
// pointer, and a release over a control that takes drops raises that control's DragDrop.
#pragma once

#include <QPoint>

class QLabel;
class QWidget;

namespace rt {

class CommandButton;
class Control;

// Gives the label automatic drag mode; source is the control that DragDrop names.
void setAutomaticDrag(QLabel* label, Control& source);

// The control of widget if it takes drops (a button with a DragDrop handler), else null.
CommandButton* dropTarget(const QWidget* widget);

// A drop of source at local (in target's pixels): raises target's DragDrop unless target takes
// no drops or is disabled, which the drag and the keyboard's drop alike leave alone. False
// when nothing was raised.
bool dropOn(QWidget* target, Control& source, QPoint local);

} // namespace rt
