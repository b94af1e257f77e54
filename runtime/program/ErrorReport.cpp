// Reporting a run-time error: one line on stderr, and a message box where someone can see it.
#include "program/ErrorReport.h"

#include "lang/RuntimeError.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>

namespace rt {
namespace {

ErrorReporter g_reporter;

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

} // namespace

void reportError(const RuntimeError& error) {
    (g_reporter ? g_reporter : defaultReport)(error);
}

void setErrorReporter(ErrorReporter reporter) {
    g_reporter = std::move(reporter);
}

} // namespace rt
