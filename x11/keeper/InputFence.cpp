#include "InputFence.h"

#include "x11/XcbReply.h"

#include <QCoreApplication>

#include <xcb/xcb.h>


namespace hakop::platform {

namespace {

constexpr char fenceName[] = "_HAKOP_INPUT_FENCE";
constexpr auto longestDrop = std::chrono::seconds(2);

bool isCoreInput(std::uint8_t type)
{
    return type >= XCB_KEY_PRESS && type <= XCB_MOTION_NOTIFY;
}

// XInput 2's key, button, motion and touch events (XI_KeyPress .. XI_Motion,
// XI_TouchBegin .. XI_TouchEnd).
bool isXInputInput(std::uint16_t type)
{
    return (type >= 2 && type <= 6) || (type >= 18 && type <= 20);
}

} // namespace

InputFence::InputFence(xcb_connection_t* connection, unsigned long window)
    : m_connection(connection)
    , m_window(static_cast<std::uint32_t>(window))
{
    xcb_connection_t* c = m_connection;
    if (c != nullptr) {
        const auto atom = xcb_intern_atom(c, 0, sizeof fenceName - 1, fenceName);
        const auto xinput = xcb_query_extension(c, 15, "XInputExtension");
        if (auto reply = XcbReply<xcb_intern_atom_reply_t>(xcb_intern_atom_reply(c, atom, nullptr)))
            m_atom = reply->atom;
        if (auto reply = XcbReply<xcb_query_extension_reply_t>(xcb_query_extension_reply(c, xinput, nullptr)))
            m_xinput = reply->present ? reply->major_opcode : 0;
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
}

InputFence::~InputFence()
{
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

void InputFence::dropInputSoFar()
{
    xcb_connection_t* c = m_connection;
    if (c == nullptr || m_atom == 0)
        return;
    xcb_change_property(c, XCB_PROP_MODE_APPEND, m_window, m_atom, XCB_ATOM_INTEGER, 8, 0, nullptr);
    xcb_flush(c);
    m_dropping = true;
    m_giveUp = std::chrono::steady_clock::now() + longestDrop;
}

bool InputFence::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (!m_dropping || eventType != "xcb_generic_event_t" || message == nullptr)
        return false;
    if (std::chrono::steady_clock::now() > m_giveUp) {
        m_dropping = false;
        return false;
    }
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const std::uint8_t type = event->response_type & 0x7f;
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto* property = static_cast<const xcb_property_notify_event_t*>(message);
        if (property->window != m_window || property->atom != m_atom)
            return false;
        m_dropping = false;
        return true;
    }
    if (isCoreInput(type))
        return true;
    if (type == XCB_GE_GENERIC && m_xinput != 0) {
        const auto* generic = static_cast<const xcb_ge_generic_event_t*>(message);
        return generic->extension == m_xinput && isXInputInput(generic->event_type);
    }
    return false;
}

} // namespace hakop::platform
