// Ending the program, by End or by a run-time error; the program's state and its one reset.
#include "program/End.h"

#include "ProgramState.h"
#include "lang/Reset.h"
#include "program/ErrorReport.h"

#include <QApplication>
#include <QWidget>

namespace rt {
namespace {

void defaultEnd(int status) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->hide();
    }
    QCoreApplication::exit(status);
}

void finish(int status) {
    const Seams& given = programState().seams;
    (given.end ? given.end : defaultEnd)(status);
}

} // namespace

ProgramState& programState() {
    static ProgramState state;
    return state;
}

void beginProgram(Seams given) {
    ProgramState& state = programState();
    // The rooms' state first: it may still refer to the windows of the run before.
    state.forms.reset();
    resetLang(given.rnd);
    state = ProgramState{};
    state.seams = std::move(given);
}

const Seams& seams() {
    return programState().seams;
}
std::unique_ptr<RoomState>& formsState() {
    return programState().forms;
}

void endProgram(int status) {
    ProgramState& state = programState();
    if (state.ended)
        return;
    state.ended = true;
    state.status = status;
    finish(status);
}

void endWithError(const RuntimeError& error) {
    ProgramState& state = programState();
    if (state.ended)
        return;
    // Ended before the report, so that no tick or click runs while a message box is open.
    state.ended = true;
    state.status = 1;
    reportError(error);
    finish(1);
}

bool programEnded() {
    return programState().ended;
}
int exitStatus() {
    return programState().status;
}

} // namespace rt
