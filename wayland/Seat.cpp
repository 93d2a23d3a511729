#include "Seat.h"

#include "Protocols.h"

#include <xkbcommon/xkbcommon.h>

#include <sys/mman.h>
#include <unistd.h>

namespace hakop::platform::wayland {

namespace {

constexpr std::uint32_t leftButton = 0x110; // BTN_LEFT in linux/input-event-codes.h

} // namespace

Seat::Seat()
    : m_xkb(xkb_context_new(XKB_CONTEXT_NO_FLAGS))
{
}

Seat::~Seat()
{
    release();
    if (m_xkb != nullptr)
        xkb_context_unref(m_xkb);
}

void Seat::bind(wl_seat* seat)
{
    m_seat = seat;
    static const wl_seat_listener listener = {
        .capabilities = &Seat::capabilities,
        .name = [](void*, wl_seat*, const char*) {},
    };
    wl_seat_add_listener(m_seat, &listener, this);
}

void Seat::release()
{
    capabilities(this, m_seat, 0);
    dropKeymap();
    if (m_seat != nullptr)
        wl_seat_destroy(m_seat);
    m_seat = nullptr;
}

void Seat::dropKeymap()
{
    if (m_state != nullptr)
        xkb_state_unref(m_state);
    if (m_keymap != nullptr)
        xkb_keymap_unref(m_keymap);
    m_state = nullptr;
    m_keymap = nullptr;
}

void Seat::capabilities(void* data, wl_seat* seat, std::uint32_t caps)
{
    auto* self = static_cast<Seat*>(data);
    const bool keyboard = (caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    const bool pointer = (caps & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (keyboard && self->m_keyboard == nullptr) {
        static const wl_keyboard_listener listener = {
            .keymap = &Seat::keymap,
            .enter = &Seat::keyboardEnter,
            .leave = &Seat::keyboardLeave,
            .key = &Seat::key,
            .modifiers = &Seat::modifiers,
            .repeat_info = &Seat::repeatInfo,
        };
        self->m_keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(self->m_keyboard, &listener, self);
    } else if (!keyboard && self->m_keyboard != nullptr) {
        if (wl_keyboard_get_version(self->m_keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
            wl_keyboard_release(self->m_keyboard);
        else
            wl_keyboard_destroy(self->m_keyboard);
        self->m_keyboard = nullptr;
        self->m_keyboardFocus = nullptr;
    }
    if (pointer && self->m_pointer == nullptr) {
        static const wl_pointer_listener listener = {
            .enter = &Seat::pointerEnter,
            .leave = &Seat::pointerLeave,
            .motion = &Seat::motion,
            .button = &Seat::button,
            .axis = [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {},
            .frame = [](void*, wl_pointer*) {},
            .axis_source = [](void*, wl_pointer*, std::uint32_t) {},
            .axis_stop = [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
            .axis_discrete = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
            .axis_value120 = [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
        };
        self->m_pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(self->m_pointer, &listener, self);
    } else if (!pointer && self->m_pointer != nullptr) {
        if (wl_pointer_get_version(self->m_pointer) >= WL_POINTER_RELEASE_SINCE_VERSION)
            wl_pointer_release(self->m_pointer);
        else
            wl_pointer_destroy(self->m_pointer);
        self->m_pointer = nullptr;
        self->m_pointerSurface = nullptr;
        self->m_leftHeld = false;
    }
}

void Seat::keyboardEnter(void* data, wl_keyboard*, std::uint32_t, wl_surface* surface, wl_array*)
{
    static_cast<Seat*>(data)->m_keyboardFocus = surface;
}

void Seat::keyboardLeave(void* data, wl_keyboard*, std::uint32_t, wl_surface* surface)
{
    auto* self = static_cast<Seat*>(data);
    if (self->m_keyboardFocus == surface)
        self->m_keyboardFocus = nullptr;
    if (self->onKeyboardLeave && surface != nullptr)
        self->onKeyboardLeave(surface);
}

void Seat::keymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd, std::uint32_t size)
{
    auto* self = static_cast<Seat*>(data);
    self->dropKeymap();
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && self->m_xkb != nullptr && size > 0) {
        void* text = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (text != MAP_FAILED) {
            // The text ends with a NUL within 'size'.
            self->m_keymap = xkb_keymap_new_from_string(self->m_xkb, static_cast<const char*>(text),
                                                        XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
            ::munmap(text, size);
        }
        if (self->m_keymap != nullptr)
            self->m_state = xkb_state_new(self->m_keymap);
    }
    ::close(fd);
}

void Seat::key(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key, std::uint32_t state)
{
    auto* self = static_cast<Seat*>(data);
    if (state != WL_KEYBOARD_KEY_STATE_PRESSED || !self->onKey)
        return;
    if (self->m_state == nullptr) {
        // No keymap to read it with: still a key, and not Tab.
        self->onKey(XKB_KEY_NoSymbol, false, false);
        return;
    }
    // Evdev codes are 8 below X keycodes, which is what xkb counts in.
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(self->m_state, key + 8);
    const bool ctrl = xkb_state_mod_name_is_active(self->m_state, XKB_MOD_NAME_CTRL, XKB_STATE_MODS_EFFECTIVE) > 0;
    const bool alt = xkb_state_mod_name_is_active(self->m_state, XKB_MOD_NAME_ALT, XKB_STATE_MODS_EFFECTIVE) > 0;
    self->onKey(sym, ctrl, alt);
}

void Seat::modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed, std::uint32_t latched,
                     std::uint32_t locked, std::uint32_t group)
{
    auto* self = static_cast<Seat*>(data);
    if (self->m_state != nullptr)
        xkb_state_update_mask(self->m_state, depressed, latched, locked, 0, 0, group);
}

void Seat::pointerEnter(void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface* surface, std::int32_t x,
                        std::int32_t y)
{
    auto* self = static_cast<Seat*>(data);
    // No cursor image at all over our surfaces.
    wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
    self->m_pointerSurface = surface;
    self->m_pointerAt = QPointF(wl_fixed_to_double(x), wl_fixed_to_double(y));
    if (self->onPointerEnter)
        self->onPointerEnter(surface, self->m_pointerAt);
}

void Seat::pointerLeave(void* data, wl_pointer*, std::uint32_t, wl_surface*)
{
    static_cast<Seat*>(data)->m_pointerSurface = nullptr;
}

void Seat::motion(void* data, wl_pointer*, std::uint32_t, std::int32_t x, std::int32_t y)
{
    auto* self = static_cast<Seat*>(data);
    self->m_pointerAt = QPointF(wl_fixed_to_double(x), wl_fixed_to_double(y));
    if (self->onPointerMotion)
        self->onPointerMotion(self->m_pointerSurface, self->m_pointerAt, self->m_leftHeld);
}

void Seat::button(void* data, wl_pointer*, std::uint32_t, std::uint32_t, std::uint32_t button, std::uint32_t state)
{
    auto* self = static_cast<Seat*>(data);
    const bool pressed = state == WL_POINTER_BUTTON_STATE_PRESSED;
    if (button == leftButton)
        self->m_leftHeld = pressed;
    if (self->onButton)
        self->onButton(button, pressed, self->m_pointerSurface, self->m_pointerAt);
}

} // namespace hakop::platform::wayland
