// The program room's own state behind beginProgram, End, the guard and the report.
#pragma once

#include "program/Program.h"

namespace rt {

struct ProgramState {
    bool ended = false;
    int status = 0;
    int handlerDepth = 0;
    Seams seams;
    std::unique_ptr<RoomState> forms;
};

ProgramState& programState();

} // namespace rt
