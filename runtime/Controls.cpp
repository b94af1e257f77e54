// The Qt side of windows and controls, what screen readers find of them, and the automatic
// drag of a label.
#include "Controls.h"

#include "RuntimeError.h"
#include "Twips.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace rt {
namespace {

const char* const ControlProperty = "rt.control";
const char* const TabIndexProperty = "rt.tabIndex";
const char* const ClientProperty = "rt.client";

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
std::string text(const QString& s) {
    return s.toUtf8().toStdString();
}

QColor toQColor(Color color) {
    switch (color.kind) {
    case Color::Kind::WindowBackground:
        return QApplication::palette().color(QPalette::Base);
    case Color::Kind::WindowText:
        return QApplication::palette().color(QPalette::Text);
    case Color::Kind::Rgb:
        break;
    }
    return QColor(color.r, color.g, color.b);
}

class FormWindow : public QMainWindow {
public:
    std::function<void(QCloseEvent*)> onClose;

protected:
    void closeEvent(QCloseEvent* event) override {
        if (onClose)
            onClose(event);
        else
            event->accept();
    }
};

class ShapeWidget : public QWidget {
public:
    using QWidget::QWidget;
    QColor fill = Qt::black;
    QColor border = Qt::black;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), border);
        p.fillRect(rect().adjusted(1, 1, -1, -1), fill);
    }
};

class ImageWidget : public QWidget {
public:
    using QWidget::QWidget;
    rt::Picture picture;

protected:
    void paintEvent(QPaintEvent*) override {
        if (picture.isEmpty())
            return;
        QPainter p(this);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(rect(), *picture.image());
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
            if (!w->isWindow() && !dynamic_cast<ShapeWidget*>(w))
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
// widgets made here and leaves every other widget to Qt.
QAccessibleInterface* accessibleFor(const QString& className, QObject* object) {
    auto* w = qobject_cast<QWidget*>(object);
    if (!w)
        return nullptr;
    if (className == QLatin1String("QLabel") && Control::fromWidget(w))
        return new LabelAccessible(static_cast<QLabel*>(w));
    if (className != QLatin1String("QWidget"))
        return nullptr;
    if (w->property(ClientProperty).isValid())
        return new ClientAccessible(w);
    if (dynamic_cast<ImageWidget*>(w))
        return new QAccessibleWidget(w, QAccessible::Graphic);
    return nullptr;
}

void installAccessibility() {
    static bool installed = false;
    if (installed)
        return;
    QAccessible::installFactory(accessibleFor);
    installed = true;
}

// The outline that follows the pointer during a drag: a frame two pixels wide, masked so
// that what lies beneath shows through without a compositor.
class DragOutline : public QWidget {
public:
    explicit DragOutline(QSize size)
        : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput |
                               Qt::WindowDoesNotAcceptFocus) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        resize(size);
        setMask(QRegion(rect()).subtracted(QRegion(rect().adjusted(2, 2, -2, -2))));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(64, 64, 64));
    }
};

// Automatic drag mode of a label, built on the label's own mouse events and a mouse grab, so
// that real pointer input and synthesized test events drive it the same way.
class AutomaticDrag : public QObject {
public:
    AutomaticDrag(QLabel* label, Control* source)
        : QObject(label)
        , m_label(label)
        , m_source(source) {
        label->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (e->button() == Qt::LeftButton && !m_outline)
                begin(e->globalPosition().toPoint());
            return true;
        }
        case QEvent::MouseMove:
            if (m_outline)
                m_outline->move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() -
                                m_grabOffset);
            return true;
        case QEvent::MouseButtonRelease: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (e->button() == Qt::LeftButton && m_outline)
                drop(e->globalPosition().toPoint());
            return true;
        }
        case QEvent::Hide:
            cancel();
            return false;
        default:
            return false;
        }
    }

private:
    void begin(QPoint globalPos) {
        m_grabOffset = globalPos - m_label->mapToGlobal(QPoint(0, 0));
        m_outline = std::make_unique<DragOutline>(m_label->size());
        m_outline->move(globalPos - m_grabOffset);
        m_outline->show();
        m_label->grabMouse();
    }

    void cancel() {
        if (!m_outline)
            return;
        m_label->releaseMouse();
        m_outline.reset();
    }

    void drop(QPoint globalPos) {
        cancel();
        QWidget* target = targetAt(globalPos);
        Control* control = target ? Control::fromWidget(target) : nullptr;
        auto* button = dynamic_cast<CommandButton*>(control);
        if (!button || !button->onDragDrop || !target->isEnabled())
            return;
        const QPoint local = target->mapFromGlobal(globalPos);
        Control& source = *m_source;
        dispatch([&] {
            button->onDragDrop(source, pixelsToTwips(local.x()), pixelsToTwips(local.y()));
        });
    }

    // The control under the pointer, found from the window system's own idea of what is on
    // top; walks up from child widgets (a button's parts) to the control.
    static QWidget* targetAt(QPoint globalPos) {
        for (QWidget* w = QApplication::widgetAt(globalPos); w; w = w->parentWidget()) {
            if (Control::fromWidget(w))
                return w;
            if (w->isWindow())
                break;
        }
        return nullptr;
    }

    QLabel* m_label;
    Control* m_source;
    std::unique_ptr<DragOutline> m_outline;
    QPoint m_grabOffset;
};

} // namespace

// ---- Control ----

Control::Control(QWidget* widget)
    : m_widget(widget) {
    widget->setProperty(ControlProperty, QVariant::fromValue(static_cast<void*>(this)));
    widget->show();
}

Control::~Control() {
    if (m_widget)
        m_widget->setProperty(ControlProperty, QVariant());
}

Control* Control::fromWidget(const QWidget* widget) {
    return static_cast<Control*>(widget->property(ControlProperty).value<void*>());
}

void Control::Move(float Left, float Top, float Width, float Height) {
    m_widget->setGeometry(twipsToPixels(Left), twipsToPixels(Top), twipsToPixels(Width),
                          twipsToPixels(Height));
    resized();
}

void Control::setBackColor(Color color) {
    QPalette pal = m_widget->palette();
    pal.setColor(QPalette::Window, toQColor(color));
    m_widget->setPalette(pal);
    m_widget->setAutoFillBackground(true);
}

void Control::setForeColor(Color color) {
    QPalette pal = m_widget->palette();
    pal.setColor(QPalette::WindowText, toQColor(color));
    m_widget->setPalette(pal);
}

void Control::setFont(const Font& font) {
    QFont f = m_widget->font();
    QStringList families;
    for (const auto& face : font.faces)
        families << text(face);
    if (!families.isEmpty())
        f.setFamilies(families);
    if (font.points > 0)
        f.setPointSizeF(font.points);
    m_widget->setFont(f);
}

void Control::setTabIndex(int index) {
    m_widget->setProperty(TabIndexProperty, index);
}

void Control::setAccessibleName(const std::string& name) {
    m_widget->setAccessibleName(text(name));
}
void Control::setAccessibleDescription(const std::string& description) {
    m_widget->setAccessibleDescription(text(description));
}

// ---- CommandButton ----

CommandButton::CommandButton(Form& form)
    : Control(new QPushButton(form.client())) {
    QObject::connect(button(), &QPushButton::clicked, button(), [this] { dispatch(onClick); });
}

QPushButton* CommandButton::button() const {
    return static_cast<QPushButton*>(m_widget);
}

std::string CommandButton::Caption() const {
    return text(button()->text());
}
void CommandButton::setCaption(const std::string& caption) {
    button()->setText(text(caption));
}
bool CommandButton::FontBold() const {
    return button()->font().bold();
}
void CommandButton::setFontBold(bool bold) {
    QFont f = button()->font();
    f.setBold(bold);
    button()->setFont(f);
}
bool CommandButton::Enabled() const {
    return button()->isEnabled();
}
void CommandButton::setEnabled(bool enabled) {
    button()->setEnabled(enabled);
}

// ---- Label ----

Label::Label(Form& form)
    : Control(new QLabel(form.client())) {
    label()->setTextFormat(Qt::PlainText);
    label()->setWordWrap(true);
    label()->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label()->setFocusPolicy(Qt::NoFocus);
}

QLabel* Label::label() const {
    return static_cast<QLabel*>(m_widget);
}

std::string Label::Caption() const {
    return text(label()->text());
}
void Label::setCaption(const std::string& caption) {
    const QString newText = text(caption);
    if (label()->text() == newText)
        return;
    label()->setText(newText);
    // Qt announces the change of a label's name only; a named label's text is its description.
    if (!label()->accessibleName().isEmpty()) {
        QAccessibleEvent event(label(), QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
}
void Label::setAlignment(Alignment alignment) {
    label()->setAlignment((alignment == Alignment::Center ? Qt::AlignHCenter : Qt::AlignLeft) |
                          Qt::AlignTop);
}
void Label::setBorderStyle(BorderStyle style) {
    label()->setFrameStyle(style == BorderStyle::FixedSingle ? (QFrame::Box | QFrame::Plain)
                                                             : QFrame::NoFrame);
    label()->setLineWidth(1);
}
void Label::setDragModeAutomatic() {
    new AutomaticDrag(label(), this);
}

// ---- Shape ----

Shape::Shape(Form& form)
    : Control(new ShapeWidget(form.client())) {}

void Shape::setFillColor(Color color) {
    static_cast<ShapeWidget*>(m_widget)->fill = toQColor(color);
    m_widget->update();
}
void Shape::setBorderColor(Color color) {
    static_cast<ShapeWidget*>(m_widget)->border = toQColor(color);
    m_widget->update();
}
bool Shape::Visible() const {
    return !m_widget->isHidden();
}
void Shape::setVisible(bool visible) {
    const bool was = Visible();
    m_widget->setVisible(visible);
    if (was != visible && onVisibleChanged)
        onVisibleChanged();
}

// ---- Image ----

Image::Image(Form& form)
    : Control(new ImageWidget(form.client())) {}

rt::Picture Image::Picture() const {
    return static_cast<ImageWidget*>(m_widget)->picture;
}
void Image::setPicture(const rt::Picture& picture) {
    static_cast<ImageWidget*>(m_widget)->picture = picture;
    m_widget->update();
}
void Image::resized() {
    const qreal ratio = m_widget->devicePixelRatioF();
    notePictureDisplaySize(qCeil(m_widget->width() * ratio), qCeil(m_widget->height() * ratio));
}

// ---- Timer ----

Timer::Timer(Form& form)
    : m_timer(new QTimer(form.window())) {
    QObject::connect(m_timer, &QTimer::timeout, m_timer, [this] { dispatch(onTimer); });
}

Timer::~Timer() = default;

int Timer::Interval() const {
    return m_timer->isActive() ? m_timer->interval() : 0;
}
void Timer::setInterval(int milliseconds) {
    if (milliseconds <= 0)
        m_timer->stop();
    else
        m_timer->start(milliseconds);
}

// ---- Menu and MenuItem ----

Menu::Menu(Form& form, const std::string& caption)
    : m_menu(form.window()->menuBar()->addMenu(text(caption))) {}

std::string Menu::Caption() const {
    return text(m_menu->title());
}
bool Menu::Enabled() const {
    return m_menu->menuAction()->isEnabled();
}
void Menu::setEnabled(bool enabled) {
    m_menu->menuAction()->setEnabled(enabled);
}

MenuItem::MenuItem(Menu& menu, const std::string& caption)
    : m_action(menu.menu()->addAction(text(caption))) {
    QObject::connect(m_action, &QAction::triggered, m_action, [this] {
        // Qt toggles a checkable item by itself; the check mark is the program's to set.
        if (m_action->isCheckable())
            m_action->setChecked(!m_action->isChecked());
        dispatch(onClick);
    });
}

std::string MenuItem::Caption() const {
    return text(m_action->text());
}
bool MenuItem::Enabled() const {
    return m_action->isEnabled();
}
void MenuItem::setEnabled(bool enabled) {
    m_action->setEnabled(enabled);
}
bool MenuItem::Checked() const {
    return m_action->isChecked();
}
void MenuItem::setChecked(bool checked) {
    // Only a checked item is checkable, so an unchecked one shows no empty box beside it.
    m_action->setCheckable(checked);
    m_action->setChecked(checked);
}

// ---- Form ----

Form::Form()
    : m_window(std::make_unique<FormWindow>())
    , m_client(new QWidget) {
    m_window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                             Qt::WindowCloseButtonHint);
    installAccessibility();
    m_client->setProperty(ClientProperty, true);
    m_window->setCentralWidget(m_client);
    m_window->layout()->setSizeConstraint(QLayout::SetFixedSize);
    static_cast<FormWindow*>(m_window.get())->onClose = [this](QCloseEvent* event) {
        if (programEnded() || !onQueryUnload) {
            event->accept();
            return;
        }
        Int16 cancel = 0;
        Int16 unloadMode = 0;
        dispatch([&] { onQueryUnload(cancel, unloadMode); });
        if (programEnded() || cancel == 0)
            event->accept();
        else
            event->ignore();
    };
}

Form::~Form() = default;

void Form::Load() {
    dispatch(onLoad);
}

std::string Form::Caption() const {
    return text(m_window->windowTitle());
}
void Form::setCaption(const std::string& caption) {
    m_window->setWindowTitle(text(caption));
}
void Form::setClientSize(float width, float height) {
    m_client->setFixedSize(twipsToPixels(width), twipsToPixels(height));
}
void Form::setBackColor(Color color) {
    QPalette pal = m_client->palette();
    pal.setColor(QPalette::Window, toQColor(color));
    m_client->setPalette(pal);
    m_client->setAutoFillBackground(true);
}
void Form::setIcon(const std::string& resource) {
    // The icon is pixel art: a copy doubled block by block stays sharp on a screen scaled by
    // two, where Qt would otherwise smooth the small one up.
    const QPixmap small(text(resource));
    QIcon icon(small);
    if (!small.isNull())
        icon.addPixmap(
            small.scaled(small.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    m_window->setWindowIcon(icon);
}

void Form::endLayout() {
    std::vector<QWidget*> order;
    for (QWidget* w : m_client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->property(TabIndexProperty).isValid() && w->focusPolicy() != Qt::NoFocus)
            order.push_back(w);
    }
    std::stable_sort(order.begin(), order.end(), [](QWidget* a, QWidget* b) {
        return a->property(TabIndexProperty).toInt() < b->property(TabIndexProperty).toInt();
    });
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    if (!order.empty())
        order.front()->setFocus();
    m_window->layout()->activate();
}

float Form::Left() const {
    return pixelsToTwips(m_window->pos().x());
}
void Form::setLeft(float left) {
    m_window->move(twipsToPixels(left), m_window->pos().y());
}
float Form::Top() const {
    return pixelsToTwips(m_window->pos().y());
}
void Form::setTop(float top) {
    m_window->move(m_window->pos().x(), twipsToPixels(top));
}
float Form::Width() const {
    m_window->layout()->activate();
    return pixelsToTwips(m_window->frameGeometry().width());
}
float Form::Height() const {
    m_window->layout()->activate();
    return pixelsToTwips(m_window->frameGeometry().height());
}

void Form::Show() {
    m_window->show();
}
bool Form::Visible() const {
    return m_window->isVisible();
}

} // namespace rt
