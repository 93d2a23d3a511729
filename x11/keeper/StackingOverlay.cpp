// The stacking watch's window in the Composite overlay (see CompositeOverlay.h).
#include "StackingWatch.h"

#include <X11/Xlib.h>

namespace hakop::platform {

CompositeOverlay::Entry StackingWatch::enterOverlay()
{
    if (m_dpy == nullptr || m_yielding.joinable())
        return CompositeOverlay::Entry::Refused;
    if (!m_overlay)
        m_overlay = std::make_unique<CompositeOverlay>(m_dpy, m_root);
    const CompositeOverlay::Entry entry = m_overlay->enter(m_window);
    if (entry == CompositeOverlay::Entry::Entered) {
        // Another client holding the overlay may map its own windows there:
        // those are the siblings to stay above now. (The overlay may be a
        // new one each time it is taken.)
        XSelectInput(m_dpy, m_overlay->window(), SubstructureNotifyMask);
        XFlush(m_dpy);
    }
    drainLater();
    return entry;
}

void StackingWatch::leaveOverlay()
{
    if (m_dpy == nullptr || m_yielding.joinable() || !m_overlay || m_overlay->window() == 0)
        return;
    m_overlay->leave(m_window, !m_gone);
    drainLater();
}

unsigned long StackingWatch::home() const
{
    const unsigned long overlay = m_overlay ? m_overlay->window() : 0;
    return overlay != 0 ? overlay : m_root;
}

} // namespace hakop::platform
