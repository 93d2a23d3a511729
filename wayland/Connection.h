#pragma once
// One connection to a Wayland compositor and the globals the saver uses:
// compositor, shared memory, the layer shell or else the window manager
// (xdg-shell), screen copy (optional), the first seat and every output,
// followed as they come and go.
#include "Seat.h"

#include <QSize>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct wl_compositor;
struct wl_display;
struct wl_output;
struct wl_registry;
struct wl_shm;
struct zwlr_layer_shell_v1;
struct zwlr_screencopy_manager_v1;
struct wp_viewporter;
struct xdg_wm_base;

namespace hakop::platform::wayland {

class Connection;

struct Output {
    std::uint32_t globalName = 0;
    wl_output* output = nullptr;
    std::string name; // "HEADLESS-1"; empty from compositors older than wl_output 4
    QSize mode; // the current mode, in device pixels, as the panel lies
    // How the picture is turned and flipped on the panel (wl_output_transform):
    // the compositor's copy of the output comes as the panel lies.
    std::int32_t transform = 0;
    int scale = 1; // a fractional scale comes rounded up
    bool done = false; // its first description is complete
    Connection* owner = nullptr;

    // The device pixels as the user sees them: the mode, turned.
    QSize uprightSize() const;
};

class Connection {
public:
    enum class Failure {
        Unreachable, // no such display, or it refused the connection
        Silent, // it did not finish the first exchange in time
        Broken, // it ended the connection during the first exchange
    };
    // Connects to the display 'name' names (as WAYLAND_DISPLAY would; null
    // for the environment's) and learns its globals and outputs (two round
    // trips), all within 'limit' however the compositor trickles its answer.
    // Null, with the reason in 'failure', when that does not work out.
    static std::unique_ptr<Connection> open(const char* name = nullptr, Failure* failure = nullptr,
                                            std::chrono::milliseconds limit = std::chrono::seconds(1));
    // The sockets compositors make in a runtime folder, "wayland-N", lowest
    // N first: a session's own compositor normally has the lowest.
    static std::vector<std::string> runtimeSockets(const std::string& runtimeDir);

    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    wl_display* display() const { return m_display; }
    wl_compositor* compositor() const { return m_compositor; }
    wl_shm* shm() const { return m_shm; }
    // Null when the compositor has none (or only version 1).
    zwlr_layer_shell_v1* layerShell() const { return m_layerShell; }
    // Null when the compositor has no xdg-shell: no windows either.
    xdg_wm_base* windowManager() const { return m_windowManager; }
    zwlr_screencopy_manager_v1* screencopy() const { return m_screencopy; }
    // Null when the compositor cannot scale a buffer to a surface's size.
    wp_viewporter* viewporter() const { return m_viewporter; }
    // Whether the compositor is KDE's KWin (it offers Plasma's shell), whose
    // pictures come through its screenshot service on the session bus.
    bool isKWin() const { return m_kwin; }
    Seat& seat() { return m_seat; }

    // In the order the compositor advertised them.
    const std::vector<std::unique_ptr<Output>>& outputs() const { return m_outputs; }

    // An output whose description is complete, and one about to be destroyed.
    std::function<void(Output&)> onOutputAdded;
    std::function<void(Output&)> onOutputRemoved;

    int fd() const;
    // Sends what is queued and waits for the compositor to have handled it,
    // dispatching whatever arrives. False once the connection is lost.
    bool roundtrip();
    // The same, but false as well when the answer has not come by 'deadline'.
    bool roundtripBefore(std::chrono::steady_clock::time_point deadline);
    // Sends what is queued; false once the connection is lost.
    bool flush();
    // Reads what the socket holds without blocking (call when poll says it
    // is readable) and dispatches it. False once the connection is lost.
    bool readAndDispatch();
    // Dispatches what is queued already, without reading.
    bool dispatchPending();
    bool lost() const;

private:
    Connection() = default;
    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
    static void globalRemove(void* data, wl_registry* registry, std::uint32_t name);
    void addOutput(std::uint32_t name, std::uint32_t version);
    static void outputDone(void* data, wl_output* output);

    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_compositor* m_compositor = nullptr;
    wl_shm* m_shm = nullptr;
    zwlr_layer_shell_v1* m_layerShell = nullptr;
    xdg_wm_base* m_windowManager = nullptr;
    zwlr_screencopy_manager_v1* m_screencopy = nullptr;
    wp_viewporter* m_viewporter = nullptr;
    bool m_kwin = false;
    Seat m_seat;
    std::vector<std::unique_ptr<Output>> m_outputs;
};

} // namespace hakop::platform::wayland
