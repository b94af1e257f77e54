// The primary monitor, from Qt's screens or, where Qt sees one screen over several heads, from
// Xinerama.
#include "Monitors.h"

#include "XcbReply.h"

#include <QGuiApplication>
#include <QScreen>

#include <xcb/xcb.h>
#include <xcb/xinerama.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>

namespace rt {
namespace {

// The first head, in device pixels, where Xinerama is active with more than one head.
std::optional<QRect> firstXineramaHead() {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return std::nullopt;
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_xinerama_id);
    if (!ext || !ext->present)
        return std::nullopt;
    const Reply<xcb_xinerama_is_active_reply_t> active(
        xcb_xinerama_is_active_reply(c, xcb_xinerama_is_active(c), nullptr));
    if (!active || !active->state)
        return std::nullopt;
    const Reply<xcb_xinerama_query_screens_reply_t> heads(
        xcb_xinerama_query_screens_reply(c, xcb_xinerama_query_screens(c), nullptr));
    if (!heads || xcb_xinerama_query_screens_screen_info_length(heads.get()) < 2)
        return std::nullopt;
    const xcb_xinerama_screen_info_t& first =
        xcb_xinerama_query_screens_screen_info(heads.get())[0];
    return QRect(first.x_org, first.y_org, first.width, first.height);
}

} // namespace

QRect primaryMonitor() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect whole = screen->geometry();
    if (QGuiApplication::platformName() != QLatin1String("xcb") ||
        QGuiApplication::screens().size() != 1)
        return whole;
    // Asked once: the windows are placed at start-up, and a round trip each time would slow it.
    static const std::optional<QRect> head = firstXineramaHead();
    if (!head)
        return whole;
    // Qt scales a screen's size, not its origin; a head inside it is scaled from that origin.
    const qreal ratio = screen->devicePixelRatio();
    const auto scale = [ratio](int v) { return int(std::lround(v / ratio)); };
    return QRect(whole.topLeft() + QPoint(scale(head->x()), scale(head->y())),
                 QSize(scale(head->width()), scale(head->height())));
}

} // namespace rt
