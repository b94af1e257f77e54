// The handler guard: errors and End unwind to here, the outermost handler.
#include "program/Dispatch.h"

#include "lang/RuntimeError.h"
#include "program/End.h"

#include <new>

namespace rt {
namespace {

int g_depth = 0;

} // namespace

void dispatch(const std::function<void()>& handler) {
    if (programEnded() || !handler)
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
        endWithError(error);
    } catch (const std::bad_alloc&) {
        endWithError(RuntimeError(ErrorKind::OutOfMemory, "the program ran out of memory"));
    }
}

} // namespace rt
