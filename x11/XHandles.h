#pragma once
// The X handles our interfaces pass, typed, without pulling Xlib or xcb into
// every file that names them.
struct xcb_connection_t;
using Display = struct _XDisplay; // NOLINT(bugprone-reserved-identifier): Xlib's own name for it
