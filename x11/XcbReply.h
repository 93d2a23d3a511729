#pragma once
// Replies and errors from xcb are malloc'ed C structures the caller must
// free: owned here, so no return path can leak or double-free one.
#include <cstdlib>
#include <memory>

namespace hakop::platform {

struct FreeWithStdFree {
    void operator()(void* p) const { std::free(p); }
};

template <class T>
using XcbReply = std::unique_ptr<T, FreeWithStdFree>;

} // namespace hakop::platform
