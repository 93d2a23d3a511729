#include "ToolkitConnection.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

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

} // namespace hakop::platform
