// The handler guard: errors and End unwind to here, the outermost handler.
#include "program/Dispatch.h"

#include "ProgramState.h"
#include "lang/End.h"
#include "lang/RuntimeError.h"
#include "program/End.h"

#include <new>

namespace rt {

void dispatch(const std::function<void()>& handler) {
    if (programEnded() || !handler)
        return;
    int& depth = programState().handlerDepth;
    ++depth;
    struct Leave {
        int& depth;
        ~Leave() { --depth; }
    } leave{depth};
    if (depth > 1) {
        handler();
        return;
    }
    try {
        handler();
    } catch (const ProgramEnd&) {
        endProgram(0);
    } catch (const RuntimeError& error) {
        endWithError(error);
    } catch (const std::bad_alloc&) {
        endWithError(RuntimeError(ErrorKind::OutOfMemory, "the program ran out of memory"));
    }
}

} // namespace rt
