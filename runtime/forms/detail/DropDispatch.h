// A drop on a control, made by the drag or by the keyboard: who takes it, and raising DragDrop.
#pragma once

#include <QPoint>

class QWidget;

namespace rt {

class CommandButton;
class Control;

// The control of widget if it takes drops (a button with a DragDrop handler), else null.
CommandButton* dropTarget(const QWidget* widget);

// A drop of source at local (in target's pixels): raises target's DragDrop unless target takes
// no drops or is disabled, which the drag and the keyboard's drop alike leave alone. False
// when nothing was raised.
bool dropOn(QWidget* target, Control& source, QPoint local);

} // namespace rt
