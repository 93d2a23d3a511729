#pragma once
// A cover where there is no layer shell (GNOME, weston): a window of ours
// (xdg-shell toplevel, app id "hakop") the compositor makes fullscreen on
// one output. Unlike an overlay surface it is not above everything and does
// not hold the keyboard for sure: the compositor may put a window or a
// notification over it and move the keyboard elsewhere (the saver watches
// the seat for that). A configure without the fullscreen state means the
// desktop shows around it: said once, in one line.
#include "CoverSurface.h"

#include <cstdint>
#include <string>

struct wl_array;
struct wl_output;
struct xdg_surface;
struct xdg_toplevel;

namespace hakop::platform::wayland {

class FullscreenWindow : public CoverSurface {
public:
    // 'outputName' names the output in the line said when it is not made fullscreen.
    FullscreenWindow(Connection& connection, wl_output* output, std::string outputName);
    ~FullscreenWindow() override;

private:
    static void surfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial);
    static void toplevelConfigure(void* data, xdg_toplevel* toplevel, std::int32_t width, std::int32_t height,
                                  wl_array* states);
    static void toplevelClose(void* data, xdg_toplevel* toplevel);
    static void configureBounds(void*, xdg_toplevel*, std::int32_t, std::int32_t) {}
    static void wmCapabilities(void*, xdg_toplevel*, wl_array*) {}

    xdg_surface* m_xdgSurface = nullptr;
    xdg_toplevel* m_toplevel = nullptr;
    std::string m_outputName;
    QSize m_pendingSize; // from the toplevel's configure, applied at the surface's
    bool m_pendingFullscreen = false;
    bool m_toldNotFullscreen = false;
};

} // namespace hakop::platform::wayland
