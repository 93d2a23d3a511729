#include "XWayland.h"

#include "XcbReply.h"

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstring>
#include <string_view>

namespace hakop::platform {

namespace {

bool offersExtension(xcb_connection_t* connection, std::string_view name)
{
    const XcbReply<xcb_query_extension_reply_t> reply(xcb_query_extension_reply(
        connection, xcb_query_extension(connection, static_cast<std::uint16_t>(name.size()), name.data()), nullptr));
    return reply && reply->present;
}

bool hasXWaylandOutput(xcb_connection_t* connection, xcb_window_t root)
{
    const XcbReply<xcb_randr_get_screen_resources_current_reply_t> resources(
        xcb_randr_get_screen_resources_current_reply(
            connection, xcb_randr_get_screen_resources_current(connection, root), nullptr));
    if (!resources)
        return false;
    const xcb_randr_output_t* outputs = xcb_randr_get_screen_resources_current_outputs(resources.get());
    const int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
    for (int i = 0; i < count; ++i) {
        const XcbReply<xcb_randr_get_output_info_reply_t> info(xcb_randr_get_output_info_reply(
            connection, xcb_randr_get_output_info(connection, outputs[i], resources->config_timestamp), nullptr));
        if (!info)
            continue;
        const std::string_view name(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
                                    static_cast<std::size_t>(xcb_randr_get_output_info_name_length(info.get())));
        if (name.substr(0, 8) == "XWAYLAND")
            return true;
    }
    return false;
}

} // namespace

bool isXWayland(Display* display)
{
    // A connection of its own: xcb's RandR glue needs one, and it is asked once.
    xcb_connection_t* connection = xcb_connect(DisplayString(display), nullptr);
    bool xwayland = false;
    if (xcb_connection_has_error(connection) == 0) {
        xwayland = offersExtension(connection, "XWAYLAND");
        if (!xwayland && offersExtension(connection, "RANDR")) {
            const XcbReply<xcb_randr_query_version_reply_t> version(xcb_randr_query_version_reply(
                connection, xcb_randr_query_version(connection, XCB_RANDR_MAJOR_VERSION, XCB_RANDR_MINOR_VERSION),
                nullptr));
            // "Current" resources, which ask no output to be probed, since RandR 1.3.
            if (version && (version->major_version > 1 || version->minor_version >= 3))
                xwayland = hasXWaylandOutput(connection, xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root);
        }
    }
    xcb_disconnect(connection);
    return xwayland;
}

} // namespace hakop::platform
