// The process around the windows: the application object, the display, the event loop.
#pragma once

#include <memory>
#include <string>

class QApplication;

namespace rt {

struct ApplicationInfo {
    std::string name;      // shown by the desktop and used as the window class
    std::string desktopId; // the desktop entry's name, without ".desktop"
    std::string icon;      // a resource path
};

class Application {
public:
    // Ignores the command line: the program takes no arguments.
    Application(char* argv0, const ApplicationInfo& info);
    ~Application();

    // False when no display answers to show windows on; the reason is printed already.
    bool hasDisplay() const { return static_cast<bool>(m_app); }

    // Runs events until the program ends, unless it ended already (during start-up).
    int exec();

private:
    int m_argc = 1;
    char* m_argv[4]; // the program's name, the platform option when we choose, the end

    std::unique_ptr<QApplication> m_app;
};

} // namespace rt
