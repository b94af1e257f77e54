// The key and the accessible action that drop a label on the focused control. A key that the
// focused button does not use travels up to the window's client area, where it is caught.
#include "KeyboardDrop.h"

#include "DropDispatch.h"
#include "QtSupport.h"
#include "WidgetBinding.h"
#include "forms/Controls.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

namespace rt {

class KeyboardDrop : public QObject {
public:
    KeyboardDrop(Control& source, char key, const QString& action)
        : QObject(source.widget())
        , source(source)
        , key(Qt::Key(QChar(key).toUpper().unicode()))
        , action(action) {}

    Control& source;
    const Qt::Key key;
    const QString action;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* e = static_cast<QKeyEvent*>(event);
        const auto modifiers = e->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
        if (e->key() != key || modifiers != Qt::NoModifier)
            return false;
        QWidget* focused = QApplication::focusWidget();
        if (!focused || focused->parentWidget() != watched)
            return false;
        return keyboardDrop(focused);
    }
};

namespace {

KeyboardDrop* dropIn(const QWidget* target) {
    const QWidget* client = target ? target->parentWidget() : nullptr;
    const WidgetBinding* binding = client ? bindingOf(client) : nullptr;
    return binding ? binding->keyboardDrop.data() : nullptr;
}

} // namespace

void setKeyboardDrop(Control& source, char key, const std::string& action) {
    QWidget* client = source.widget()->parentWidget();
    auto* drop = new KeyboardDrop(source, key, toQString(action));
    bind(client).keyboardDrop = drop;
    client->installEventFilter(drop);
}

KeyboardDropOffer keyboardDropOffer(const QWidget* target) {
    const KeyboardDrop* drop = dropIn(target);
    if (!drop || !dropTarget(target))
        return {};
    return {drop->action, QString(QChar(drop->key))};
}

bool keyboardDrop(QWidget* target) {
    KeyboardDrop* drop = dropIn(target);
    return drop && dropOn(target, drop->source, target->rect().center());
}

} // namespace rt
