#pragma once
// The toolkit's own connection to the X server, typed: asked here and
// nowhere else.
#include "XHandles.h"

namespace hakop::platform {

// Null when the toolkit runs on no X server (or before it has started).
xcb_connection_t* toolkitConnection();
Display* toolkitDisplay();

// Hands every request queued on the toolkit's display to the server now.
// Needed before a call that blocks the event loop (which would otherwise flush).
void flushToolkitDisplay();
// The same, and waits until the server has carried them out: another
// connection then sees what the toolkit asked for.
void syncToolkitDisplay();

} // namespace hakop::platform
