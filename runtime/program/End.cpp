// Ending the program, by End or by a run-time error.
#include "program/End.h"

#include "program/ErrorReport.h"

#include <QApplication>
#include <QWidget>

namespace rt {
namespace {

bool g_ended = false;
int g_status = 0;
EndHandler g_endHandler;

void defaultEnd(int status) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->hide();
    }
    QCoreApplication::exit(status);
}

void endProgram(int status) {
    (g_endHandler ? g_endHandler : defaultEnd)(status);
}

} // namespace

void End() {
    if (!g_ended) {
        g_ended = true;
        g_status = 0;
        endProgram(0);
    }
    throw ProgramEnd{};
}

void endWithError(const RuntimeError& error) {
    if (g_ended)
        return;
    // Ended before the report, so that no tick or click runs while a message box is open.
    g_ended = true;
    g_status = 1;
    reportError(error);
    endProgram(1);
}

bool programEnded() {
    return g_ended;
}
int exitStatus() {
    return g_status;
}

void setEndHandler(EndHandler handler) {
    g_endHandler = std::move(handler);
}

void beginProgram() {
    g_ended = false;
    g_status = 0;
}

} // namespace rt
