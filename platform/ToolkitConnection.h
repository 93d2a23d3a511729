#pragma once
// The toolkit's own connection to the X server, typed: asked here and
// nowhere else.
struct xcb_connection_t;
using Display = struct _XDisplay;

namespace hakop::platform {

// Null when the toolkit runs on no X server (or before it has started).
xcb_connection_t* toolkitConnection();
Display* toolkitDisplay();

} // namespace hakop::platform
