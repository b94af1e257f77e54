// Creating the application object only where a display answers, on the platform that serves
// the game best, so that a start without one says so plainly instead of aborting inside Qt.
#include "program/Application.h"

#include "program/End.h"
#include "program/Program.h"

#include <QApplication>
#include <QIcon>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace rt {
namespace {

// Qt's names of the two desktop platforms, as its -platform option takes them.
char XcbPlatform[] = "xcb";
char WaylandPlatform[] = "wayland";
char PlatformOption[] = "-platform";

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Connecting is the only sure test: a stale DISPLAY, a server that refuses us, a socket left
// behind by a dead server all look alike until then; it costs one round trip. The connection
// stays open until Qt has its own, since a server started without -noreset (xvfb-run) resets
// when its last client leaves and refuses connections meanwhile.
class XConnection {
public:
    explicit XConnection(const std::string& display)
        : m_connection(display.empty() ? nullptr : xcb_connect(display.c_str(), nullptr)) {}
    ~XConnection() {
        if (m_connection)
            xcb_disconnect(m_connection);
    }
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    bool answers() const { return m_connection && xcb_connection_has_error(m_connection) == 0; }

private:
    xcb_connection_t* m_connection;
};

// The compositor's socket, as libwayland finds it: an absolute name, or one in the runtime
// folder.
bool waylandDisplayAnswers(const std::string& display) {
    if (display.empty())
        return false;
    std::string path = display;
    if (path.front() != '/') {
        const std::string runtimeDir = environment("XDG_RUNTIME_DIR");
        if (runtimeDir.empty())
            return false;
        path = runtimeDir + "/" + display;
    }
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool answers = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return answers;
}

void unreachable(const std::string& name, const char* kind, const std::string& display) {
    std::fprintf(stderr, "%s: the %s display \"%s\" cannot be reached: nothing answers there.\n",
                 name.c_str(), kind, display.c_str());
}

struct PlatformChoice {
    bool displayAnswers;
    char* platform = nullptr;         // null: Qt's own choice
    std::unique_ptr<XConnection> x{}; // held open until Qt has connected
};

// An explicit QT_QPA_PLATFORM is honoured. Otherwise an answering X server comes first, even
// inside a Wayland session (XWayland): there the windows stand where the game puts them, which
// a Wayland compositor does not allow. Native Wayland is for sessions without XWayland.
PlatformChoice choosePlatform(const std::string& name, const char* argv0) {
    const std::string platform = environment("QT_QPA_PLATFORM");
    const std::string x11 = environment("DISPLAY");
    std::string wayland = environment("WAYLAND_DISPLAY");
    if (platform == XcbPlatform) {
        auto x = std::make_unique<XConnection>(x11);
        if (x->answers())
            return {true, nullptr, std::move(x)};
        if (x11.empty())
            std::fprintf(stderr, "%s: QT_QPA_PLATFORM asks for xcb, but DISPLAY is not set.\n",
                         name.c_str());
        else
            unreachable(name, "X", x11);
        return {false};
    }
    if (platform.starts_with(WaylandPlatform)) {
        if (wayland.empty())
            wayland = "wayland-0"; // libwayland's default
        if (waylandDisplayAnswers(wayland))
            return {true};
        unreachable(name, "Wayland", wayland);
        return {false};
    }
    if (!platform.empty())
        return {true};

    if (x11.empty() && wayland.empty()) {
        std::fprintf(stderr,
                     "%s: no display to show the game on (neither DISPLAY nor WAYLAND_DISPLAY "
                     "is set).\nStart it from a desktop session, or without a screen under a "
                     "virtual X server:\n    xvfb-run -a %s\n",
                     name.c_str(), argv0 ? argv0 : "kelvoradx");
        return {false};
    }
    auto x = std::make_unique<XConnection>(x11);
    if (x->answers())
        return {true, XcbPlatform, std::move(x)};
    if (waylandDisplayAnswers(wayland))
        return {true, WaylandPlatform};
    if (wayland.empty())
        unreachable(name, "X", x11);
    else if (x11.empty())
        unreachable(name, "Wayland", wayland);
    else
        std::fprintf(stderr,
                     "%s: neither the X display \"%s\" nor the Wayland display \"%s\" can be "
                     "reached: nothing answers there.\n",
                     name.c_str(), x11.c_str(), wayland.c_str());
    return {false};
}

} // namespace

Application::Application(char* argv0, const ApplicationInfo& info)
    : m_argv{argv0, nullptr, nullptr, nullptr} {
    const PlatformChoice choice = choosePlatform(info.name, argv0);
    if (!choice.displayAnswers)
        return;
    if (choice.platform) {
        m_argv[1] = PlatformOption;
        m_argv[2] = choice.platform;
        m_argc = 3;
    }
    QApplication::setApplicationName(QString::fromStdString(info.name));
    QGuiApplication::setDesktopFileName(QString::fromStdString(info.desktopId));
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
    QApplication::setWindowIcon(QIcon(QString::fromStdString(info.icon)));
    beginProgram();
}

Application::~Application() = default;

int Application::exec() {
    if (!m_app)
        return 1;
    if (programEnded())
        return exitStatus();
    const int status = QApplication::exec();
    return programEnded() ? exitStatus() : status;
}

} // namespace rt
