// The window manager's frame around the forms' windows, and the primary monitor: all that the
// forms know of them, in one place. Asked before the first show and never waited for; what
// the windows' X events bring later (the frame told, the frame window, the map) puts a window
// where its frame belongs, once.
#pragma once

#include <QMargins>
#include <QRect>

#include <map>
#include <optional>

class QWidget;

namespace rt {

// Where a frame of `size` stands when the frame `placed` (placed while its size was not known)
// turns out to be that large: it grows away from the centre lines of `monitor`. A window placed
// left of the vertical centre line keeps its right edge, one right of it its left edge, one
// across it its centre; likewise about the horizontal line. So two windows placed about the
// centre keep the gap between them.
QRect grownAwayFromCentre(QRect placed, QSize size, QRect monitor);

// The decisions, apart from X so that recorded event sequences can drive them: where a window's
// client area goes, from what has been seen of the frames. Logical pixels throughout.
class FrameRules {
public:
    using Window = unsigned;

    // Before the first show of a window whose outer frame the game placed at `placed`, taking
    // the frame as none (its client area stands there). `told` is the window's own frame if the
    // window manager has told it. Where the client area goes instead, if elsewhere.
    std::optional<QPoint> beforeShow(Window w, QRect placed, std::optional<QMargins> told,
                                     QRect monitor);
    // Whether the window still waits for its frame on the screen.
    bool awaits(Window w) const { return m_windows.count(w) != 0; }
    // The window stands framed: `frame` around `client`, `sinceShowMs` after its show. Where
    // its client area goes, if elsewhere; the first frame seen is how the next window will be
    // framed. The window waits until its frame is seen in place (or was moved there twice).
    std::optional<QPoint> framed(Window w, QRect frame, QRect client, int sinceShowMs);
    // The frame did not come in time: the window stays where it is.
    void forget(Window w) { m_windows.erase(w); }

private:
    struct Placed {
        QRect placed;       // the outer frame the game meant, as placed with no frame
        QRect monitor;      // whose centre lines it grows away from
        QPoint askedClient; // where the client area was asked for at the show
        int moves = 0;      // asked for since the map
        int movedAtMs = 0;  // when the last one was asked for, since the show
    };
    static constexpr int MaxMoves = 2;
    static constexpr int RetryAfterMs = 100;
    std::map<Window, Placed> m_windows;
    // The frame around the window framed last, as margins about its client area: the same
    // window manager frames the program's next window alike. And whether it put that frame
    // where the client area was asked for (i3) rather than around it.
    std::optional<QMargins> m_lastFrame;
    bool m_framedWhereAsked = false;
};

// The frame of a window not shown yet, in logical pixels: none without a window manager or
// off X11, the frame told where the window manager told it, else nothing known yet. The first
// call asks the window manager and goes on.
std::optional<QMargins> frameBeforeShow(QWidget* window);

// Right before the first show of a window placed at `placed` (its outer frame, taken with no
// frame, in logical pixels): puts its client area inside the frame that is known by now, and
// follows the window's events until the window manager has framed it.
void showFramed(QWidget* window, QRect placed, QRect monitor);

// The primary monitor's rectangle in logical pixels. Where Qt knows only one screen spanning
// several monitors (Xinerama without RandR), the first of Xinerama's heads, which X11 treats as
// the primary one there.
QRect primaryMonitor();

// Moves a top-level window so that its client area stands at `client`, logical pixels.
void moveClientTo(QWidget* window, QPoint client);

} // namespace rt
