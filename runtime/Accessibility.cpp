// The accessible side of the controls: the client area without its decoration, labels that
// keep their text when named, pictures as graphics.
#include "Accessibility.h"

#include "QtSupport.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QWidget>

namespace rt::accessibility {
namespace {

const char* const RoleProperty = "rt.accessibleRole";
enum class Role { Client = 1, Decoration, Graphic };

Role roleOf(const QWidget* w) {
    return Role(w->property(RoleProperty).toInt());
}

// A window's client area as screen readers see it: its controls, less the shapes, which are
// drawn decoration and would otherwise be read out one by one.
class ClientAccessible : public QAccessibleWidget {
public:
    explicit ClientAccessible(QWidget* client)
        : QAccessibleWidget(client, QAccessible::Client) {}

    int childCount() const override { return int(announced().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> children = announced();
        if (index < 0 || index >= children.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(children[index]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child)
            return -1;
        return int(announced().indexOf(qobject_cast<QWidget*>(child->object())));
    }

private:
    QList<QWidget*> announced() const {
        QList<QWidget*> children;
        for (QWidget* w : widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!w->isWindow() && roleOf(w) != Role::Decoration)
                children.push_back(w);
        }
        return children;
    }
};

// Qt reads a label's text as its name, and an explicit name hides the text altogether; here a
// named label offers its text as its description instead, so naming the message line does
// not silence it.
class LabelAccessible : public QAccessibleWidget {
public:
    explicit LabelAccessible(QLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        const auto* label = static_cast<const QLabel*>(widget());
        const bool named = !label->accessibleName().isEmpty();
        if (t == QAccessible::Name && !named)
            return label->text();
        if (t == QAccessible::Description && named && label->accessibleDescription().isEmpty())
            return label->text();
        return QAccessibleWidget::text(t);
    }
};

// Installed after QApplication's own factory, so it is asked first; it answers only for the
// widgets of our controls and leaves every other widget to Qt.
QAccessibleInterface* accessibleFor(const QString& className, QObject* object) {
    auto* w = qobject_cast<QWidget*>(object);
    if (!w)
        return nullptr;
    if (className == QLatin1String("QLabel") && w->property(ControlProperty).isValid())
        return new LabelAccessible(static_cast<QLabel*>(w));
    if (className != QLatin1String("QWidget"))
        return nullptr;
    switch (roleOf(w)) {
    case Role::Client:
        return new ClientAccessible(w);
    case Role::Graphic:
        return new QAccessibleWidget(w, QAccessible::Graphic);
    case Role::Decoration:
        break;
    }
    return nullptr;
}

void mark(QWidget* widget, Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    (void)installed;
    widget->setProperty(RoleProperty, int(role));
}

} // namespace

void markClient(QWidget* client) {
    mark(client, Role::Client);
}
void markDecoration(QWidget* widget) {
    mark(widget, Role::Decoration);
}
void markGraphic(QWidget* widget) {
    mark(widget, Role::Graphic);
}

void labelTextChanged(QLabel* label) {
    // Qt announces the change of a label's name only; a named label's text is its description.
    if (!label->accessibleName().isEmpty()) {
        QAccessibleEvent event(label, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace rt::accessibility
