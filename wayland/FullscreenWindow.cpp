#include "FullscreenWindow.h"

#include "Connection.h"
#include "Protocols.h"
#include "platform/Failure.h"

#include <utility>

namespace hakop::platform::wayland {

FullscreenWindow::FullscreenWindow(Connection& connection, wl_output* output, std::string outputName)
    : CoverSurface(connection)
    , m_outputName(std::move(outputName))
{
    m_xdgSurface = xdg_wm_base_get_xdg_surface(connection.windowManager(), surface());
    static const xdg_surface_listener surfaceListener = {.configure = &FullscreenWindow::surfaceConfigure};
    xdg_surface_add_listener(m_xdgSurface, &surfaceListener, this);
    m_toplevel = xdg_surface_get_toplevel(m_xdgSurface);
    static const xdg_toplevel_listener toplevelListener = {
        .configure = &FullscreenWindow::toplevelConfigure,
        .close = &FullscreenWindow::toplevelClose,
        .configure_bounds = &FullscreenWindow::configureBounds,
        .wm_capabilities = &FullscreenWindow::wmCapabilities,
    };
    xdg_toplevel_add_listener(m_toplevel, &toplevelListener, this);
    xdg_toplevel_set_app_id(m_toplevel, "hakop");
    xdg_toplevel_set_title(m_toplevel, "hakop");
    xdg_toplevel_set_fullscreen(m_toplevel, output);
    // The first commit has no buffer: it asks for the configure.
    commit();
}

FullscreenWindow::~FullscreenWindow()
{
    if (m_toplevel != nullptr)
        xdg_toplevel_destroy(m_toplevel);
    if (m_xdgSurface != nullptr)
        xdg_surface_destroy(m_xdgSurface);
}

void FullscreenWindow::toplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height,
                                         wl_array* states)
{
    auto* self = static_cast<FullscreenWindow*>(data);
    self->m_pendingSize = QSize(width, height);
    self->m_pendingFullscreen = false;
    const auto* state = static_cast<const std::uint32_t*>(states->data);
    for (std::size_t i = 0; i < states->size / sizeof *state; ++i)
        self->m_pendingFullscreen = self->m_pendingFullscreen || state[i] == XDG_TOPLEVEL_STATE_FULLSCREEN;
}

void FullscreenWindow::surfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial)
{
    auto* self = static_cast<FullscreenWindow*>(data);
    xdg_surface_ack_configure(surface, serial);
    self->configuredAs(self->m_pendingSize);
    if (!self->m_pendingFullscreen && !std::exchange(self->m_toldNotFullscreen, true))
        logSurvived("the compositor did not make the saver's window fullscreen on output \"" + self->m_outputName
                    + "\": the desktop may show around it");
}

void FullscreenWindow::toplevelClose(void* data, xdg_toplevel*)
{
    auto* self = static_cast<FullscreenWindow*>(data);
    if (self->onCloseAsked)
        self->onCloseAsked();
}

} // namespace hakop::platform::wayland
