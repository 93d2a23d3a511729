#pragma once
// The seat's keyboard and pointer, taken and let go as the seat's
// capabilities change while the saver runs. Keys are decoded with the
// keymap the compositor sends (xkbcommon), so layouts and Shift count as
// the user set them. The cursor is hidden over every surface it enters.
#include <QPointF>

#include <cstdint>
#include <functional>

struct wl_keyboard;
struct wl_pointer;
struct wl_seat;
struct wl_surface;
struct wl_array;
struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace hakop::platform::wayland {

class Seat {
public:
    Seat();
    ~Seat();
    Seat(const Seat&) = delete;
    Seat& operator=(const Seat&) = delete;

    // A key went down: its keysym with the modifiers in effect, and whether
    // Ctrl or Alt is held.
    std::function<void(std::uint32_t keysym, bool ctrl, bool alt)> onKey;
    // The pointer entered 'surface' at 'at' (surface coordinates).
    std::function<void(wl_surface* surface, QPointF at)> onPointerEnter;
    // The pointer moved to 'at' on the surface it is over; whether the left button is held.
    std::function<void(wl_surface* surface, QPointF at, bool leftHeld)> onPointerMotion;
    // The keyboard left 'surface' (another window has it now, or none).
    // Another enter may follow in the same batch of events: keyboardFocus()
    // says where it is once the batch is dispatched.
    std::function<void(wl_surface* surface)> onKeyboardLeave;
    // A button changed (Linux input codes: BTN_LEFT is 0x110).
    std::function<void(std::uint32_t button, bool pressed, wl_surface* surface, QPointF at)> onButton;

    bool bound() const { return m_seat != nullptr; }
    void bind(wl_seat* seat);
    void release();
    bool hasKeyboard() const { return m_keyboard != nullptr; }
    bool hasPointer() const { return m_pointer != nullptr; }
    // Our surface the keyboard is on; null when it is on none of ours.
    wl_surface* keyboardFocus() const { return m_keyboardFocus; }

private:
    static void capabilities(void* data, wl_seat* seat, std::uint32_t caps);
    static void keymap(void* data, wl_keyboard* keyboard, std::uint32_t format, std::int32_t fd, std::uint32_t size);
    static void keyboardEnter(void* data, wl_keyboard* keyboard, std::uint32_t serial, wl_surface* surface,
                              wl_array* keys);
    static void keyboardLeave(void* data, wl_keyboard* keyboard, std::uint32_t serial, wl_surface* surface);
    static void key(void* data, wl_keyboard* keyboard, std::uint32_t serial, std::uint32_t time, std::uint32_t key,
                    std::uint32_t state);
    static void modifiers(void* data, wl_keyboard* keyboard, std::uint32_t serial, std::uint32_t depressed,
                          std::uint32_t latched, std::uint32_t locked, std::uint32_t group);
    static void repeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
    static void pointerEnter(void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface* surface,
                             std::int32_t x, std::int32_t y);
    static void pointerLeave(void* data, wl_pointer* pointer, std::uint32_t serial, wl_surface* surface);
    static void motion(void* data, wl_pointer* pointer, std::uint32_t time, std::int32_t x, std::int32_t y);
    static void button(void* data, wl_pointer* pointer, std::uint32_t serial, std::uint32_t time,
                       std::uint32_t button, std::uint32_t state);
    void dropKeymap();

    wl_seat* m_seat = nullptr;
    wl_keyboard* m_keyboard = nullptr;
    wl_pointer* m_pointer = nullptr;
    xkb_context* m_xkb = nullptr;
    xkb_keymap* m_keymap = nullptr;
    xkb_state* m_state = nullptr;
    wl_surface* m_keyboardFocus = nullptr;
    wl_surface* m_pointerSurface = nullptr;
    QPointF m_pointerAt;
    bool m_leftHeld = false;
};

} // namespace hakop::platform::wayland
