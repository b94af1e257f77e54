// The program's own drag, built on the label's mouse events, so that real pointer input and
// synthesized test events drive it the same way. Everything happens inside the label's own
// window and in its coordinates: some window systems (Wayland) tell a client neither where its
// windows stand on the screen nor which window lies under the pointer, and let it grab nothing.
#include "AutomaticDrag.h"

#include "DropDispatch.h"
#include "forms/Controls.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace rt {
namespace {

// The outline of the dragged label, drawn above everything else in its window; only its frame
// is painted, so what lies beneath shows through, and the pointer passes through it.
class DragOutline : public QWidget {
public:
    DragOutline(QWidget* window, QSize size)
        : QWidget(window) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        resize(size);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QColor frame(64, 64, 64);
        const int w = width(), h = height(), t = Thickness;
        p.fillRect(0, 0, w, t, frame);
        p.fillRect(0, h - t, w, t, frame);
        p.fillRect(0, t, t, h - 2 * t, frame);
        p.fillRect(w - t, t, t, h - 2 * t, frame);
    }

private:
    static constexpr int Thickness = 2;
};

// While the button is down, the widget it went down on receives every move and the release,
// wherever the pointer is (the window system's implicit grab), so no grab of our own is needed.
class AutomaticDrag : public QObject {
public:
    AutomaticDrag(QLabel* label, Control& source)
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
                begin(e->position().toPoint());
            return true;
        }
        case QEvent::MouseMove: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (!m_outline)
                return true;
            if (e->buttons() & Qt::LeftButton)
                m_outline->move(inWindow(e->position().toPoint()) - m_pressOffset);
            else
                cancel(); // the release went elsewhere
            return true;
        }
        case QEvent::MouseButtonRelease: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (e->button() == Qt::LeftButton && m_outline)
                drop(inWindow(e->position().toPoint()));
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
    QPoint inWindow(QPoint labelPos) const { return m_label->mapTo(m_label->window(), labelPos); }

    void begin(QPoint labelPos) {
        m_pressOffset = labelPos;
        m_outline = new DragOutline(m_label->window(), m_label->size());
        m_outline->move(inWindow(labelPos) - m_pressOffset);
        m_outline->raise();
        m_outline->show();
    }

    void cancel() { delete m_outline.data(); }

    void drop(QPoint windowPos) {
        cancel();
        if (QWidget* target = targetAt(windowPos))
            dropOn(target, m_source, target->mapFrom(m_label->window(), windowPos));
    }

    // The control at a point of the label's window, walking up from child widgets (a button's
    // parts) to the control; nothing outside the window.
    QWidget* targetAt(QPoint windowPos) const {
        QWidget* window = m_label->window();
        for (QWidget* w = window->childAt(windowPos); w && w != window; w = w->parentWidget()) {
            if (Control::fromWidget(w))
                return w;
        }
        return nullptr;
    }

    QLabel* m_label;
    Control& m_source;
    QPointer<DragOutline> m_outline;
    QPoint m_pressOffset; // where the label was pressed, in its own coordinates
};

} // namespace

void setAutomaticDrag(QLabel* label, Control& source) {
    new AutomaticDrag(label, source);
}

} // namespace rt
