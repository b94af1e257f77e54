// Replies of xcb, which the caller frees with free(): owned by a unique_ptr that does so.
#pragma once

#include <cstdlib>
#include <memory>

namespace rt {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

} // namespace rt
