// One place for a drop on a control, so the drag and the keyboard's drop behave alike.
#include "DropDispatch.h"

#include "forms/Controls.h"
#include "forms/Twips.h"
#include "program/Dispatch.h"

#include <QWidget>

namespace rt {

CommandButton* dropTarget(const QWidget* widget) {
    auto* button = dynamic_cast<CommandButton*>(Control::fromWidget(widget));
    return button && button->onDragDrop ? button : nullptr;
}

bool dropOn(QWidget* target, Control& source, QPoint local) {
    CommandButton* button = dropTarget(target);
    if (!button || !target->isEnabled())
        return false;
    dispatch(
        [&] { button->onDragDrop(source, pixelsToTwips(local.x()), pixelsToTwips(local.y())); });
    return true;
}

} // namespace rt
