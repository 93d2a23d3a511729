/* The layer shell's get_popup request names xdg_popup, so its glue refers to
 * the interface. We never make popups, and Debian 12 ships no xdg-shell
 * description to generate it from: this stands in, with no requests or
 * events, so the glue links. */
#include <wayland-util.h>

const struct wl_interface xdg_popup_interface = {"xdg_popup", 1, 0, NULL, 0, NULL};
