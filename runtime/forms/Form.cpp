// A window: the Qt main window behind a form, its client area, its frame, and closing it.
#include "forms/Form.h"

#include "detail/Accessibility.h"
#include "detail/QtSupport.h"
#include "detail/WidgetBinding.h"
#include "detail/WindowFrame.h"
#include "forms/Twips.h"
#include "program/Dispatch.h"
#include "program/End.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QIcon>
#include <QLayout>
#include <QMainWindow>
#include <QPixmap>
#include <QPointer>

#include <algorithm>
#include <vector>

namespace rt {
namespace {

class FormWindow : public QMainWindow {
public:
    std::function<void(QCloseEvent*)> onClose;
    // The window was placed while the window manager had not told its frame (taken as none):
    // once the window is up, the frame is put where it was meant to stand.
    bool placed = false;
    bool frameGuessed = false;

    // Some window managers (xfwm4) activate every window they map, whatever it asks; this
    // window hands an activation that comes just after its first show back to `to`. Timed by
    // a clock read, not a timer, so an idle game still wakes only for its clock.
    void handBackActivation(QWidget* to) {
        m_handBackTo = to;
        m_shown.start();
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        if (onClose)
            onClose(event);
        else
            event->accept();
    }
    bool event(QEvent* event) override {
        if (event->type() == QEvent::WindowActivate && m_handBackTo) {
            QWidget* to = m_handBackTo;
            m_handBackTo = nullptr;
            if (m_shown.elapsed() < HandBackMs)
                to->activateWindow();
        }
        return QMainWindow::event(event);
    }

private:
    static constexpr int HandBackMs = 1000;
    QPointer<QWidget> m_handBackTo;
    QElapsedTimer m_shown;
};

FormWindow* formWindow(QMainWindow* window) {
    return static_cast<FormWindow*>(window);
}

// Before the first show Qt knows no frame: the window manager is asked for it, so that the
// outer frame is right from the start. Once the window is up, Qt's own frame is the truth.
QMargins frame(QMainWindow* window) {
    if (!window->isVisible()) {
        const std::optional<QMargins> told = frameBeforeShow(window);
        if (!told)
            formWindow(window)->frameGuessed = true;
        return told.value_or(QMargins());
    }
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
}

QPoint frameTopLeft(QMainWindow* window) {
    const QMargins m = frame(window);
    return window->geometry().topLeft() - QPoint(m.left(), m.top());
}

// Once the native window exists Qt asks the window manager to keep the client area where it is
// put (static gravity). So the client area is put inside the frame the window manager will draw.
void moveFrameTo(QMainWindow* window, QPoint topLeft) {
    formWindow(window)->placed = true;
    const QMargins m = frame(window);
    moveClientTo(window, topLeft + QPoint(m.left(), m.top()));
}

QSize frameSize(QMainWindow* window) {
    window->layout()->activate();
    return window->geometry().marginsAdded(frame(window)).size();
}

int tabIndex(const QWidget* w) {
    const WidgetBinding* binding = bindingOf(w);
    return binding ? binding->tabIndex : -1;
}

// The controls that take the focus, in tab order.
std::vector<QWidget*> tabOrder(const QWidget* client) {
    std::vector<QWidget*> order;
    for (QWidget* w : client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (tabIndex(w) >= 0 && w->focusPolicy() != Qt::NoFocus)
            order.push_back(w);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](QWidget* a, QWidget* b) { return tabIndex(a) < tabIndex(b); });
    return order;
}

// Another form already on the screen, if any.
QWidget* otherVisibleForm(const QWidget* window) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != window && dynamic_cast<FormWindow*>(w) && w->isVisible())
            return w;
    return nullptr;
}

} // namespace

Form::Form()
    : m_window(std::make_unique<FormWindow>())
    , m_client(new QWidget) {
    m_window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                             Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                             Qt::WindowCloseButtonHint);
    accessibility::markWindow(m_window.get());
    accessibility::markClient(m_client);
    m_window->setCentralWidget(m_client);
    m_window->layout()->setSizeConstraint(QLayout::SetFixedSize);
    formWindow(m_window.get())->onClose = [this](QCloseEvent* event) {
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
    return fromQString(m_window->windowTitle());
}
void Form::setCaption(const std::string& caption) {
    m_window->setWindowTitle(toQString(caption));
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
    const QPixmap small(toQString(resource));
    QIcon icon(small);
    if (!small.isNull())
        icon.addPixmap(
            small.scaled(small.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    m_window->setWindowIcon(icon);
}

void Form::endLayout() {
    const std::vector<QWidget*> order = tabOrder(m_client);
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    if (!order.empty())
        order.front()->setFocus();
    m_window->layout()->activate();
}

// Left and Top count from the primary monitor's top-left corner, wherever the monitor stands.
float Form::Left() const {
    return pixelsToTwips(frameTopLeft(m_window.get()).x() - primaryMonitor().x());
}
void Form::setLeft(float left) {
    const int x = twipsToPixels(left) + primaryMonitor().x();
    moveFrameTo(m_window.get(), QPoint(x, frameTopLeft(m_window.get()).y()));
}
float Form::Top() const {
    return pixelsToTwips(frameTopLeft(m_window.get()).y() - primaryMonitor().y());
}
void Form::setTop(float top) {
    const int y = twipsToPixels(top) + primaryMonitor().y();
    moveFrameTo(m_window.get(), QPoint(frameTopLeft(m_window.get()).x(), y));
}
float Form::Width() const {
    return pixelsToTwips(frameSize(m_window.get()).width());
}
float Form::Height() const {
    return pixelsToTwips(frameSize(m_window.get()).height());
}

void Form::Show() {
    // The first window shown takes the keys; one shown beside it does not take them away.
    if (!m_window->isVisible()) {
        QWidget* first = otherVisibleForm(m_window.get());
        m_window->setAttribute(Qt::WA_ShowWithoutActivating, first != nullptr);
        FormWindow* window = formWindow(m_window.get());
        if (first)
            window->handBackActivation(first);
        // Placed with a frame taken as none: the frame as placed, put right once it is known.
        if (window->placed && window->frameGuessed)
            showFramed(window, window->geometry(), primaryMonitor());
        window->frameGuessed = false;
        m_window->show();
        if (!first)
            m_window->activateWindow();
    }
    // A control of the window holds the focus: the one that had it, else the first.
    QWidget* held = m_window->focusWidget();
    const std::vector<QWidget*> order = tabOrder(m_client);
    if (held && held->isEnabled() && std::find(order.begin(), order.end(), held) != order.end())
        return;
    for (QWidget* w : order)
        if (w->isEnabled()) {
            w->setFocus(Qt::OtherFocusReason);
            return;
        }
}
bool Form::Visible() const {
    return m_window->isVisible();
}

} // namespace rt
