// Automatic drag mode of a label: a press starts a drag at once, an outline follows the
// pointer, and a release over a control that takes drops raises that control's DragDrop.
#pragma once

class QLabel;

namespace rt {

class Control;

// Gives the label automatic drag mode; source is the control that DragDrop names.
void setAutomaticDrag(QLabel* label, Control& source);

} // namespace rt
