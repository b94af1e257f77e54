// The program's state, with one owner and one reset: whether and how it ended, the depth of the
// running handlers, the seams a test puts in place, and what the rooms above keep for one run.
#pragma once

#include <functional>
#include <memory>

namespace rt {

class RuntimeError;

// What a test puts in place of the real thing; an empty member keeps the real one.
struct Seams {
    std::function<void(int status)> end; // else: hide every window, leave the event loop
    std::function<void(const RuntimeError&)> report; // else: stderr and a message box
    std::function<float()> rnd;                      // else: Rnd's own generator
    float screenWidth = 0;                           // in twips; 0: the primary monitor's
    float screenHeight = 0;
};

// What a room above the program keeps for one run (the forms' knowledge of the window
// manager), dropped when a program begins.
struct RoomState {
    virtual ~RoomState() = default;
};

// Begins a fresh program in this process (tests start many): the program's state and the
// language's back to their start, the seams given in place, the rooms' state dropped.
void beginProgram(Seams seams = {});

const Seams& seams();
// The forms' state of this run; empty until the forms make it.
std::unique_ptr<RoomState>& formsState();

} // namespace rt
