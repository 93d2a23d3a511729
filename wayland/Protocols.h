#pragma once
// The Wayland protocol glue as C++ sees it. The glue is generated C; the
// layer-shell header names a request's parameter 'namespace', a C++ keyword,
// so it is renamed for the length of that one include.
#include <wayland-client.h>

#define namespace namespace_
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "viewporter-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"
#include "ext-idle-notify-v1-client-protocol.h"
