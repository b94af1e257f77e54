// Creating the application object only where there is a display, so that a start without one
// says so plainly instead of aborting inside Qt.
#include "Application.h"

#include "RuntimeError.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>

namespace rt {
namespace {

bool displayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

} // namespace

Application::Application(char* argv0, const ApplicationInfo& info)
    : m_argv{argv0, nullptr} {
    if (!displayAvailable()) {
        std::fprintf(stderr,
                     "%s: no display to show the game on (neither DISPLAY nor WAYLAND_DISPLAY "
                     "is set).\nStart it from a desktop session, or without a screen under a "
                     "virtual X server:\n    xvfb-run -a %s\n",
                     info.name.c_str(), argv0 ? argv0 : "kelvoradx");
        return;
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
