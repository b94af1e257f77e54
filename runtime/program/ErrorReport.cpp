// Reporting a run-time error: one line on stderr, and a message box where someone can see it.
#include "program/ErrorReport.h"

#include "ProgramState.h"
#include "lang/RuntimeError.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>

namespace rt {
namespace {

bool interactiveDisplay() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void defaultReport(const RuntimeError& error) {
    // Named as the shell names it, the message box as the desktop names the application.
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    std::fprintf(stderr, "%s: run-time error: %s: %s\n", qPrintable(program),
                 errorKindText(error.kind()), error.detail().c_str());
    std::fflush(stderr);
    if (!interactiveDisplay())
        return;
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(),
                    QStringLiteral("Run-time error: %1").arg(errorKindText(error.kind())),
                    QMessageBox::Ok);
    box.setInformativeText(QString::fromUtf8(error.detail()));
    box.exec();
}

} // namespace

void reportError(const RuntimeError& error) {
    const Seams& given = programState().seams;
    (given.report ? given.report : defaultReport)(error);
}

} // namespace rt
