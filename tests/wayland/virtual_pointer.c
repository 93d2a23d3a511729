/* A pointer for tests on a wlroots compositor, which has no XTest: one
 * virtual pointer device that performs the actions given, in order, then goes.
 *   virtual_pointer ACTION...
 *     move DX DY           relative motion, in pixels
 *     at X Y XEXT YEXT     absolute position X,Y on a layout XEXT wide, YEXT high
 *     click [BUTTON]       press and release (Linux code, 272 = left; the default)
 *     sleep MS             wait, with the device still there
 * The device appears when this starts: a client that picks up new pointers
 * needs a moment (a leading sleep) before the first motion reaches it.
 * Exits 0 once the compositor has taken every request, 1 on any failure. */
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

static struct zwlr_virtual_pointer_manager_v1* manager;
static struct wl_seat* seat;

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface, uint32_t version)
{
    (void)data;
    if (!strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name))
        manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    else if (!strcmp(interface, wl_seat_interface.name) && !seat)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, version < 1 ? version : 1);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

static uint32_t now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

static int number(const char* text, long* out)
{
    char* end = NULL;
    errno = 0;
    *out = strtol(text, &end, 10);
    return end != text && *end == '\0' && errno == 0;
}

static int usage(void)
{
    (void)fprintf(stderr, "usage: virtual_pointer [move DX DY | at X Y XEXT YEXT | click [BUTTON] | sleep MS]...\n");
    return 2;
}

int main(int argc, char** argv)
{
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        (void)fprintf(stderr, "virtual_pointer: cannot connect to the Wayland display\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!manager) {
        (void)fprintf(stderr, "virtual_pointer: the compositor offers no zwlr_virtual_pointer_manager_v1\n");
        if (seat)
            wl_seat_destroy(seat);
        wl_registry_destroy(registry);
        wl_display_disconnect(display);
        return 1;
    }
    struct zwlr_virtual_pointer_v1* pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    wl_display_roundtrip(display);

    int status = 0;
    for (int i = 1; i < argc && status == 0; ++i) {
        long a = 0, b = 0, c = 0, d = 0;
        if (!strcmp(argv[i], "move") && i + 2 < argc && number(argv[i + 1], &a) && number(argv[i + 2], &b)) {
            zwlr_virtual_pointer_v1_motion(pointer, now_ms(), wl_fixed_from_int((int)a), wl_fixed_from_int((int)b));
            zwlr_virtual_pointer_v1_frame(pointer);
            i += 2;
        } else if (!strcmp(argv[i], "at") && i + 4 < argc && number(argv[i + 1], &a) && number(argv[i + 2], &b)
                   && number(argv[i + 3], &c) && number(argv[i + 4], &d) && a >= 0 && b >= 0 && c > 0 && d > 0) {
            zwlr_virtual_pointer_v1_motion_absolute(pointer, now_ms(), (uint32_t)a, (uint32_t)b, (uint32_t)c, (uint32_t)d);
            zwlr_virtual_pointer_v1_frame(pointer);
            i += 4;
        } else if (!strcmp(argv[i], "click")) {
            long button = 272; /* BTN_LEFT */
            if (i + 1 < argc && number(argv[i + 1], &a)) {
                button = a;
                ++i;
            }
            zwlr_virtual_pointer_v1_button(pointer, now_ms(), (uint32_t)button, WL_POINTER_BUTTON_STATE_PRESSED);
            zwlr_virtual_pointer_v1_frame(pointer);
            zwlr_virtual_pointer_v1_button(pointer, now_ms(), (uint32_t)button, WL_POINTER_BUTTON_STATE_RELEASED);
            zwlr_virtual_pointer_v1_frame(pointer);
        } else if (!strcmp(argv[i], "sleep") && i + 1 < argc && number(argv[i + 1], &a) && a >= 0) {
            wl_display_flush(display);
            const struct timespec pause = {a / 1000, (a % 1000) * 1000000};
            nanosleep(&pause, NULL);
            ++i;
        } else {
            status = usage();
            break;
        }
        /* Each action reaches the compositor before the next one starts. */
        if (wl_display_roundtrip(display) < 0) {
            (void)fprintf(stderr, "virtual_pointer: the connection failed\n");
            status = 1;
        }
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    if (wl_display_roundtrip(display) < 0 && status == 0)
        status = 1;
    zwlr_virtual_pointer_manager_v1_destroy(manager);
    if (seat)
        wl_seat_destroy(seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return status;
}
