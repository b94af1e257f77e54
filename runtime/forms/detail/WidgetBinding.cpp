// The binding record rides on the widget as a child object, so it dies with the widget.
#include "WidgetBinding.h"

#include <QObject>
#include <QWidget>

namespace rt {
namespace {

class BindingHolder : public QObject {
public:
    explicit BindingHolder(QWidget* widget)
        : QObject(widget) {}
    WidgetBinding binding;
};

BindingHolder* holderOf(const QWidget* widget) {
    for (QObject* child : widget->children())
        if (auto* holder = dynamic_cast<BindingHolder*>(child))
            return holder;
    return nullptr;
}

} // namespace

WidgetBinding& bind(QWidget* widget) {
    BindingHolder* holder = holderOf(widget);
    if (!holder)
        holder = new BindingHolder(widget);
    return holder->binding;
}

const WidgetBinding* bindingOf(const QWidget* widget) {
    const BindingHolder* holder = widget ? holderOf(widget) : nullptr;
    return holder ? &holder->binding : nullptr;
}

} // namespace rt
