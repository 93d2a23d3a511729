#include "ScreenCapture.h"

#include "XcbReply.h"

#include <xcb/xcb.h>

#include <cstdint>

namespace hakop::x11 {

std::uint32_t copyRootToPixmap(xcb_connection_t* c, std::uint32_t window, const QRect& area)
{
    if (c == nullptr || xcb_connection_has_error(c) || window == 0 || area.isEmpty() || area.width() > 32767
        || area.height() > 32767)
        return 0;
    // The root of the window's own screen (the one the saver runs on, which
    // need not be the display's first).
    const platform::XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (geometry == nullptr)
        return 0;
    const std::uint8_t depth = geometry->depth;
    const xcb_screen_t* screen = nullptr;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem > 0; xcb_screen_next(&it)) {
        if (it.data->root == geometry->root)
            screen = it.data;
    }
    if (screen == nullptr || depth != screen->root_depth)
        return 0;

    const std::uint32_t pixmap = xcb_generate_id(c);
    const platform::XcbReply<xcb_generic_error_t> error(xcb_request_check(
        c, xcb_create_pixmap_checked(c, depth, pixmap, window, std::uint16_t(area.width()),
                                     std::uint16_t(area.height()))));
    if (error != nullptr) // no room on the server
        return 0;
    // Windows on the root are copied too, as they show; no exposure events
    // for parts that cannot be copied: they stay black.
    const std::uint32_t gc = xcb_generate_id(c);
    // Values in the order of the mask's bits: foreground, subwindow mode, graphics exposures.
    const std::uint32_t values[] = {screen->black_pixel, XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS, 0};
    xcb_create_gc(c, gc, pixmap, XCB_GC_FOREGROUND | XCB_GC_SUBWINDOW_MODE | XCB_GC_GRAPHICS_EXPOSURES, values);
    const QRect from = area & QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels);
    if (from != area) { // a pass over every pixel: only when some stay black
        const xcb_rectangle_t all{0, 0, std::uint16_t(area.width()), std::uint16_t(area.height())};
        xcb_poly_fill_rectangle(c, pixmap, gc, 1, &all);
    }
    if (!from.isEmpty()) {
        xcb_copy_area(c, screen->root, pixmap, gc, std::int16_t(from.x()), std::int16_t(from.y()),
                      std::int16_t(from.x() - area.x()), std::int16_t(from.y() - area.y()),
                      std::uint16_t(from.width()), std::uint16_t(from.height()));
    }
    xcb_free_gc(c, gc);
    xcb_flush(c);
    return pixmap;
}

} // namespace hakop::x11
