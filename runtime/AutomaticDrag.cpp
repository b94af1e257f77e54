// The program's own drag, built on the label's mouse events and a mouse grab, so that real
// pointer input and synthesized test events drive it the same way.
#include "AutomaticDrag.h"

#include "Controls.h"
#include "RuntimeError.h"
#include "Twips.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

#include <memory>

namespace rt {
namespace {

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
        Control& source = m_source;
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
    Control& m_source;
    std::unique_ptr<DragOutline> m_outline;
    QPoint m_grabOffset;
};

} // namespace

void setAutomaticDrag(QLabel* label, Control& source) {
    new AutomaticDrag(label, source);
}

} // namespace rt
