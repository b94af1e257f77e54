// The Qt side of the controls: buttons, labels, shapes, the image, the timer and the menus.
#include "forms/Controls.h"

#include "detail/Accessibility.h"
#include "detail/AutomaticDrag.h"
#include "detail/KeyboardDrop.h"
#include "detail/QtSupport.h"
#include "detail/WidgetBinding.h"
#include "forms/Twips.h"
#include "pictures/PictureFile.h"
#include "program/Dispatch.h"

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

namespace rt {
namespace {

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
    // The picture decoded last for this control: the next game's same bytes are not decoded again.
    rt::pictures::DecodeCache lastDecoded;

protected:
    void paintEvent(QPaintEvent*) override {
        if (!picture.image())
            return;
        QPainter p(this);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(rect(), *picture.image());
    }
};

} // namespace

// ---- Control ----

Control::Control(QWidget* widget)
    : m_widget(widget) {
    bind(widget).control = this;
    widget->show();
}

Control::~Control() {
    if (m_widget)
        bind(m_widget).control = nullptr;
}

Control* Control::fromWidget(const QWidget* widget) {
    const WidgetBinding* binding = bindingOf(widget);
    return binding ? binding->control : nullptr;
}

void Control::Move(float Left, float Top, float Width, float Height) {
    m_widget->setGeometry(twipsToPixels(Left), twipsToPixels(Top), twipsToPixels(Width),
                          twipsToPixels(Height));
}

void Control::setBackColor(Color color) {
    QPalette pal = m_widget->palette();
    pal.setColor(QPalette::Window, toQColor(color));
    m_widget->setPalette(pal);
    m_widget->setAutoFillBackground(true);
    applyForeColor();
}

void Control::setForeColor(Color color) {
    m_foreColor = color;
    applyForeColor();
}

void Control::applyForeColor() {
    QPalette pal = m_widget->palette();
    pal.setColor(QPalette::WindowText, textColorOn(m_foreColor, pal.color(QPalette::Window)));
    m_widget->setPalette(pal);
}

void Control::setFont(const Font& font) {
    QFont f = m_widget->font();
    QStringList families;
    for (const auto& face : font.faces)
        families << toQString(face);
    if (!families.isEmpty())
        f.setFamilies(families);
    if (font.points > 0)
        f.setPointSizeF(font.points);
    m_widget->setFont(f);
}

void Control::setTabIndex(int index) {
    bind(m_widget).tabIndex = index;
}

void Control::setAccessibleName(const std::string& name) {
    m_widget->setAccessibleName(toQString(name));
}
void Control::setAccessibleDescription(const std::string& description) {
    m_widget->setAccessibleDescription(toQString(description));
}

// ---- CommandButton ----

CommandButton::CommandButton(Form& form)
    : Control(new QPushButton(form.client())) {
    accessibility::markButton(m_widget);
    QObject::connect(button(), &QPushButton::clicked, button(), [this] { dispatch(onClick); });
}

QPushButton* CommandButton::button() const {
    return static_cast<QPushButton*>(m_widget);
}

std::string CommandButton::Caption() const {
    return fromQString(button()->text());
}
void CommandButton::setCaption(const std::string& caption) {
    const QString newText = toQString(caption);
    const bool changed = button()->text() != newText;
    if (changed)
        button()->setText(newText);
    accessibility::captionSet(button(), changed);
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
    if (!enabled)
        accessibility::aboutToDisable(button());
    button()->setEnabled(enabled);
}
void CommandButton::setAccessibleBlankName(const std::string& name) {
    accessibility::setBlankName(button(), toQString(name));
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
    return fromQString(label()->text());
}
void Label::setCaption(const std::string& caption) {
    const QString newText = toQString(caption);
    const bool changed = label()->text() != newText;
    if (changed)
        label()->setText(newText);
    accessibility::captionSet(label(), changed);
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
    setAutomaticDrag(label(), *this);
}
void Label::setKeyboardDrop(char key, const std::string& action) {
    rt::setKeyboardDrop(*this, key, action);
}
void Label::setStatusLine() {
    accessibility::markStatusLine(label());
}

// ---- Shape ----

Shape::Shape(Form& form)
    : Control(new ShapeWidget(form.client())) {
    accessibility::markDecoration(m_widget);
}

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
    : Control(new ImageWidget(form.client())) {
    accessibility::markGraphic(m_widget);
}

rt::Picture Image::Picture() const {
    return static_cast<ImageWidget*>(m_widget)->picture;
}
void Image::setPicture(const rt::Picture& picture) {
    rt::Picture shown = picture;
    if (!shown.m_file.empty()) {
        const qreal ratio = m_widget->devicePixelRatioF();
        const QSize size(qCeil(m_widget->width() * ratio), qCeil(m_widget->height() * ratio));
        shown.m_image = pictures::decodeFile(shown.m_file, size,
                                             static_cast<ImageWidget*>(m_widget)->lastDecoded);
        shown.m_file.clear();
    }
    static_cast<ImageWidget*>(m_widget)->picture = std::move(shown);
    m_widget->update();
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
    : m_menu(form.window()->menuBar()->addMenu(toQString(caption))) {}

std::string Menu::Caption() const {
    return fromQString(m_menu->title());
}
bool Menu::Enabled() const {
    return m_menu->menuAction()->isEnabled();
}
void Menu::setEnabled(bool enabled) {
    m_menu->menuAction()->setEnabled(enabled);
}

MenuItem::MenuItem(Menu& menu, const std::string& caption)
    : m_action(menu.menu()->addAction(toQString(caption))) {
    QObject::connect(m_action, &QAction::triggered, m_action, [this] {
        // Qt toggles a checkable item by itself; the check mark is the program's to set.
        if (m_action->isCheckable())
            m_action->setChecked(!m_action->isChecked());
        dispatch(onClick);
    });
}

std::string MenuItem::Caption() const {
    return fromQString(m_action->text());
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

} // namespace rt
