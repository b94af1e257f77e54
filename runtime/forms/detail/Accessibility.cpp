// The accessible side of the controls: the client area without its decoration, buttons with
// their actions, labels that expose their text, pictures as graphics, the window's status line
// with its announcements, and the language of Japanese text.
//
// What Qt 6.4 and Orca 43 taught us: Qt sends a changed name or description with the object
// instead of the text, which Orca cannot speak; Orca speaks a notification when it is shown.
// Orca also drops such events once about fifty others wait before them, so the focus is never
// sent running across the squares, and announcements go out after the handler has finished.
#include "Accessibility.h"

#include "KeyboardDrop.h"
#include "QtSupport.h"
#include "WidgetBinding.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace rt::accessibility {
namespace {

Role roleOf(const QWidget* w) {
    const WidgetBinding* binding = bindingOf(w);
    return binding ? binding->role : Role::None;
}

// Text offered through the text interface, read only: a screen reader's review commands read
// it, and each part carries its own language.
class ReadOnlyText : public QAccessibleTextInterface {
public:
    virtual QStringList parts() const = 0;
    virtual QRect screenRect() const = 0;

    QString text(int startOffset, int endOffset) const override {
        const QString all = whole();
        if (endOffset < 0 || endOffset > all.size())
            endOffset = int(all.size());
        return all.mid(startOffset, qMax(0, endOffset - startOffset));
    }
    int characterCount() const override { return int(whole().size()); }
    QString attributes(int offset, int* startOffset, int* endOffset) const override {
        int start = 0;
        for (const QString& part : parts()) {
            const int end = start + int(part.size()) + 1; // with the blank that follows it
            if (offset < end || part == parts().constLast()) {
                *startOffset = start;
                *endOffset = qMin(end, characterCount());
                const QString language = languageOf(part);
                return language.isEmpty() ? QString() : QStringLiteral("language:") + language;
            }
            start = end;
        }
        *startOffset = *endOffset = offset;
        return {};
    }

    void selection(int, int* startOffset, int* endOffset) const override {
        *startOffset = *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    // Every character is placed on the whole of the widget: enough for review by lines.
    QRect characterRect(int) const override { return screenRect(); }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}

private:
    QString whole() const { return parts().join(QLatin1Char(' ')); }
};

// A widget that also offers its text: the interface Qt asks for is looked up here first.
template <class Base> class WithText : public Base, public ReadOnlyText {
public:
    using Base::Base;
    QRect screenRect() const override {
        const QWidget* w = Base::widget();
        return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
    }
    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return Base::interface_cast(t);
    }
};

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

// A window, whose title is its text, so that its language can be told.
class WindowAccessible : public WithText<QAccessibleWidget> {
public:
    explicit WindowAccessible(QWidget* window)
        : WithText(window, QAccessible::Window) {}
    QStringList parts() const override { return {widget()->windowTitle()}; }
};

// Qt reads a label's text as its name, and an explicit name hides the text altogether; here a
// named label offers its text as its description instead, so naming the message line does
// not silence it. Its text is also offered as text, for review.
//
// The status line reads as read-only text: Orca reads a label by its name alone, but a text by
// its name and its content, when it takes the focus and when asked where the focus is. Qt
// keeps the interface it made first, so the label's role is asked for each time.
class LabelAccessible : public WithText<QAccessibleWidget> {
public:
    explicit LabelAccessible(QLabel* label)
        : WithText(label, QAccessible::StaticText) {}

    QAccessible::Role role() const override {
        return statusLine() ? QAccessible::EditableText : QAccessible::StaticText;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        if (statusLine()) {
            state.readOnly = true;
            state.focusable = true;
        }
        return state;
    }
    QString text(QAccessible::Text t) const override {
        const bool named = !label()->accessibleName().isEmpty();
        if (t == QAccessible::Name && !named)
            return label()->text();
        // As a text, the status line is read by its content; a description would repeat it.
        if (t == QAccessible::Description && named && label()->accessibleDescription().isEmpty())
            return statusLine() ? QString() : label()->text();
        return QAccessibleWidget::text(t);
    }
    QStringList parts() const override { return {label()->text()}; }

private:
    const QLabel* label() const { return static_cast<const QLabel*>(widget()); }
    bool statusLine() const { return roleOf(widget()) == Role::StatusLine; }
};

// A push button: its caption (or its blank name) as its name; pressed, focused, or given the
// dragged label by its actions.
class ButtonAccessible : public QAccessibleWidget {
public:
    explicit ButtonAccessible(QWidget* button)
        : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name || !widget()->accessibleName().isEmpty())
            return QAccessibleWidget::text(t);
        const QString caption = button()->text();
        if (!caption.isEmpty())
            return caption;
        const WidgetBinding* binding = bindingOf(widget());
        return binding ? binding->blankName : QString();
    }

    QStringList actionNames() const override {
        QStringList names{pressAction()};
        names << QAccessibleWidget::actionNames();
        if (const QString drop = keyboardDropOffer(widget()).action; !drop.isEmpty())
            names << drop;
        return names;
    }
    void doAction(const QString& name) override {
        if (!widget()->isEnabled())
            return;
        if (name == pressAction())
            button()->animateClick();
        else if (name == keyboardDropOffer(widget()).action)
            keyboardDrop(widget());
        else
            QAccessibleWidget::doAction(name);
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        const KeyboardDropOffer drop = keyboardDropOffer(widget());
        if (!drop.action.isEmpty() && name == drop.action)
            return {drop.key};
        return QAccessibleWidget::keyBindingsForAction(name);
    }
    QString localizedActionName(const QString& name) const override {
        if (name == keyboardDropOffer(widget()).action)
            return name;
        return QAccessibleWidget::localizedActionName(name);
    }
    QString localizedActionDescription(const QString& name) const override {
        if (name == keyboardDropOffer(widget()).action)
            return name;
        return QAccessibleWidget::localizedActionDescription(name);
    }

private:
    QAbstractButton* button() const { return static_cast<QAbstractButton*>(widget()); }
};

// What the status line announces: the latest announcement, shown anew each time.
class NotificationAccessible : public WithText<QAccessibleWidget> {
public:
    explicit NotificationAccessible(QWidget* w)
        : WithText(w, QAccessible::Notification) {}

    QString text(QAccessible::Text t) const override {
        const QStringList said = parts();
        if (t == QAccessible::Name)
            return said.value(0);
        if (t == QAccessible::Description)
            return said.value(1);
        return {};
    }
    QStringList parts() const override {
        const WidgetBinding* binding = bindingOf(widget());
        return binding ? binding->announcement : QStringList();
    }
};

// Installed after QApplication's own factory, so it is asked first; it answers only for the
// widgets of our controls and windows and leaves every other widget to Qt.
QAccessibleInterface* accessibleFor(const QString&, QObject* object) {
    auto* w = qobject_cast<QWidget*>(object);
    if (!w)
        return nullptr;
    switch (roleOf(w)) {
    case Role::Client:
        return new ClientAccessible(w);
    case Role::Window:
        return new WindowAccessible(w);
    case Role::Graphic:
        return new QAccessibleWidget(w, QAccessible::Graphic);
    case Role::Button:
        return new ButtonAccessible(w);
    case Role::StatusLine:
        return new LabelAccessible(static_cast<QLabel*>(w));
    case Role::Notification:
        return new NotificationAccessible(w);
    case Role::Decoration:
    case Role::None:
        break;
    }
    const WidgetBinding* binding = bindingOf(w);
    if (auto* label = qobject_cast<QLabel*>(w); label && binding && binding->control)
        return new LabelAccessible(label);
    return nullptr;
}

void mark(QWidget* widget, Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    (void)installed;
    bind(widget).role = role;
}

// The status line's voice: gathers what one handler changed and announces it once the
// handler has finished, by showing its notification afresh.
class Announcer : public QObject {
public:
    explicit Announcer(QLabel* statusLine)
        : QObject(statusLine)
        , m_statusLine(statusLine)
        , m_notification(new QWidget(statusLine)) {
        mark(m_notification, Role::Notification);
        m_notification->setGeometry(0, 0, 0, 0);
        m_notification->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_notification->hide();
        m_timer.setSingleShot(true);
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { announce(); });
    }

    void messageChanged() {
        m_message = true;
        m_timer.start();
    }
    void focusedCaptionChanged(QWidget* button) {
        m_button = button;
        m_timer.start();
    }

private:
    void announce() {
        QStringList said;
        if (m_button && m_button->hasFocus()) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(m_button);
            said << iface->text(QAccessible::Name);
        }
        // A status line that holds the focus is read by the screen reader itself.
        if (m_message && !m_statusLine->hasFocus() && !m_statusLine->text().isEmpty())
            said << m_statusLine->text();
        m_button = nullptr;
        m_message = false;
        if (said.isEmpty() || !m_statusLine->window()->isVisible())
            return;
        m_notification->hide();
        bind(m_notification).announcement = said;
        m_notification->show();
    }

    QLabel* m_statusLine;
    QWidget* m_notification;
    QTimer m_timer;
    QPointer<QWidget> m_button;
    bool m_message = false;
};

// The status line of the window whose client area holds widget, if it has one.
QLabel* statusLineBeside(const QWidget* widget) {
    const QWidget* client = widget->parentWidget();
    if (!client)
        return nullptr;
    for (auto* label : client->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (roleOf(label) == Role::StatusLine)
            return label;
    return nullptr;
}

Announcer* announcerOf(QLabel* statusLine) {
    if (!statusLine)
        return nullptr;
    // Not findChild: without a meta-object of its own it would take any child for one.
    for (QObject* child : statusLine->children())
        if (auto* announcer = dynamic_cast<Announcer*>(child))
            return announcer;
    return nullptr;
}

} // namespace

void markClient(QWidget* client) {
    mark(client, Role::Client);
}
void markWindow(QMainWindow* window) {
    mark(window, Role::Window);
}
void markDecoration(QWidget* widget) {
    mark(widget, Role::Decoration);
}
void markGraphic(QWidget* widget) {
    mark(widget, Role::Graphic);
}
void markButton(QWidget* button) {
    mark(button, Role::Button);
}
void setBlankName(QWidget* button, const QString& blankName) {
    bind(button).blankName = blankName;
}
void markStatusLine(QLabel* label) {
    mark(label, Role::StatusLine);
    if (!announcerOf(label))
        new Announcer(label);
}

void captionSet(QWidget* widget, bool changed) {
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        // Qt announces the change of a label's name only; a named label's text is its
        // description.
        if (changed && !label->accessibleName().isEmpty() && roleOf(label) != Role::StatusLine) {
            QAccessibleEvent event(label, QAccessible::DescriptionChanged);
            QAccessible::updateAccessibility(&event);
        }
        // The same message again is news too: it answers the player's latest move.
        if (Announcer* announcer = announcerOf(label);
            announcer && roleOf(label) == Role::StatusLine)
            announcer->messageChanged();
        return;
    }
    if (changed && widget->hasFocus())
        if (Announcer* announcer = announcerOf(statusLineBeside(widget)))
            announcer->focusedCaptionChanged(widget);
}

void aboutToDisable(QWidget* widget) {
    if (widget->window()->focusWidget() != widget)
        return;
    if (QLabel* statusLine = statusLineBeside(widget))
        statusLine->setFocus(Qt::OtherFocusReason);
}

QString languageOf(const QString& text) {
    // Kana are written in Japanese only.
    for (const QChar c : text) {
        const auto script = c.script();
        if (script == QChar::Script_Hiragana || script == QChar::Script_Katakana)
            return QStringLiteral("ja");
    }
    return {};
}

} // namespace rt::accessibility
