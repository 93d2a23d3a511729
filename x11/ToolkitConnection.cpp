#include "ToolkitConnection.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <X11/Xlib.h>

namespace hakop::platform {

namespace {

QNativeInterface::QX11Application* toolkit()
{
    return qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
}

} // namespace

xcb_connection_t* toolkitConnection()
{
    auto* x11 = toolkit();
    return x11 != nullptr ? x11->connection() : nullptr;
}

Display* toolkitDisplay()
{
    auto* x11 = toolkit();
    return x11 != nullptr ? x11->display() : nullptr;
}

void flushToolkitDisplay()
{
    if (Display* display = toolkitDisplay())
        XFlush(display);
}

void syncToolkitDisplay()
{
    if (Display* display = toolkitDisplay())
        XSync(display, False);
}

} // namespace hakop::platform
