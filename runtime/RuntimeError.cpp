// Reporting run-time errors and ending the program.
#include "RuntimeError.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QWidget>

#include <cstdio>
#include <new>

namespace rt {
namespace {

// Thrown by End() to unwind the running handler; the guard swallows it.
struct ProgramEnd {};

bool g_ended = false;
int g_status = 0;
int g_depth = 0;
ErrorReporter g_reporter;
EndHandler g_endHandler;

bool interactiveDisplay() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void defaultReport(const RuntimeError& error) {
    std::fprintf(stderr, "kelvoradx: run-time error: %s: %s\n", errorKindText(error.kind()),
                 error.detail().c_str());
    std::fflush(stderr);
    if (!interactiveDisplay())
        return;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("KelvoraDX"),
                    QStringLiteral("Run-time error: %1").arg(errorKindText(error.kind())),
                    QMessageBox::Ok);
    box.setInformativeText(QString::fromUtf8(error.detail()));
    box.exec();
}

void defaultEnd(int status) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->hide();
    }
    QCoreApplication::exit(status);
}

void endProgram(int status) {
    if (g_ended)
        return;
    g_ended = true;
    g_status = status;
    (g_endHandler ? g_endHandler : defaultEnd)(status);
}

void fail(const RuntimeError& error) {
    if (g_ended)
        return;
    // Ended before the report, so that no tick or click runs while a message box is open.
    g_ended = true;
    g_status = 1;
    (g_reporter ? g_reporter : defaultReport)(error);
    (g_endHandler ? g_endHandler : defaultEnd)(1);
}

} // namespace

const char* errorKindText(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::Overflow:
        return "Overflow";
    case ErrorKind::DivisionByZero:
        return "Division by zero";
    case ErrorKind::SubscriptOutOfRange:
        return "Subscript out of range";
    case ErrorKind::FloatingPointFault:
        return "Floating-point fault";
    case ErrorKind::PropertyFailed:
        return "Property call failed";
    case ErrorKind::FileNotFound:
        return "File not found";
    case ErrorKind::PathAccessError:
        return "Path/file access error";
    case ErrorKind::InputPastEndOfFile:
        return "Input past end of file";
    case ErrorKind::LineTooLong:
        return "Line too long";
    case ErrorKind::InvalidPicture:
        return "Invalid picture";
    case ErrorKind::OutOfMemory:
        return "Out of memory";
    }
    return "Unknown error";
}

RuntimeError::RuntimeError(ErrorKind kind, std::string detail)
    : std::runtime_error(std::string(errorKindText(kind)) + ": " + detail)
    , m_kind(kind)
    , m_detail(std::move(detail)) {}

void raise(ErrorKind kind, std::string detail) {
    throw RuntimeError(kind, std::move(detail));
}

void dispatch(const std::function<void()>& handler) {
    if (g_ended || !handler)
        return;
    ++g_depth;
    struct Leave {
        ~Leave() { --g_depth; }
    } leave;
    if (g_depth > 1) {
        handler();
        return;
    }
    try {
        handler();
    } catch (const ProgramEnd&) {
    } catch (const RuntimeError& error) {
        fail(error);
    } catch (const std::bad_alloc&) {
        fail(RuntimeError(ErrorKind::OutOfMemory, "the program ran out of memory"));
    }
}

void End() {
    endProgram(0);
    throw ProgramEnd{};
}

bool programEnded() {
    return g_ended;
}
int exitStatus() {
    return g_status;
}

void setErrorReporter(ErrorReporter reporter) {
    g_reporter = std::move(reporter);
}
void setEndHandler(EndHandler handler) {
    g_endHandler = std::move(handler);
}

void beginProgram() {
    g_ended = false;
    g_status = 0;
}

} // namespace rt
