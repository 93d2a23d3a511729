#pragma once
// Input that reached a window while it had let go of keyboard and pointer
// (a password verifier's question) is dropped once it has them back: keys
// typed during a refusal must not ask again, once per key.
//
// The fence is a request the X server answers with an event on the window
// (an empty property append): every key and pointer event the server sent
// before it was handled arrives before that event, so everything up to it
// is dropped and nothing after it.
#include "x11/XHandles.h"
#include <QAbstractNativeEventFilter>

#include <chrono>
#include <cstdint>

namespace hakop::platform {

class InputFence : public QAbstractNativeEventFilter {
public:
    // 'connection' is the toolkit's xcb connection (the window's events
    // arrive on it), 'window' the window's X id. Filters the toolkit's
    // events for as long as it lives. GUI thread only.
    InputFence(xcb_connection_t* connection, unsigned long window);
    ~InputFence() override;
    InputFence(const InputFence&) = delete;
    InputFence& operator=(const InputFence&) = delete;

    // Drops the key and pointer events sent so far, as they arrive.
    void dropInputSoFar();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    xcb_connection_t* m_connection;
    std::uint32_t m_window;
    std::uint32_t m_atom = 0;
    std::uint8_t m_xinput = 0; // the XInput extension's major opcode, 0 without it
    bool m_dropping = false;
    // Should the fence's event never come (the window gone), input is not
    // dropped for longer than this.
    std::chrono::steady_clock::time_point m_giveUp;
};

} // namespace hakop::platform
