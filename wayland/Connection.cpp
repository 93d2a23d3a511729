#include "Connection.h"

#include "Protocols.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace hakop::platform::wayland {

namespace {

// The layer shell's version 2 brought exclusive keyboard focus that the
// compositor keeps; version 1 cannot hold the keys reliably.
constexpr std::uint32_t minimumLayerShell = 2;

void outputGeometry(void* data, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                    const char*, const char*, std::int32_t transform)
{
    static_cast<Output*>(data)->transform = transform;
}

void outputMode(void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height, std::int32_t)
{
    if (flags & WL_OUTPUT_MODE_CURRENT)
        static_cast<Output*>(data)->mode = QSize(width, height);
}

void outputScale(void* data, wl_output*, std::int32_t factor)
{
    static_cast<Output*>(data)->scale = std::max(1, factor);
}

void outputName(void* data, wl_output*, const char* name)
{
    static_cast<Output*>(data)->name = name;
}

void outputDescription(void*, wl_output*, const char*)
{
}

// A client that does not answer is taken for hung (GNOME offers to kill it).
void ping(void*, xdg_wm_base* windowManager, std::uint32_t serial)
{
    xdg_wm_base_pong(windowManager, serial);
}

void syncDone(void* data, wl_callback*, std::uint32_t)
{
    *static_cast<bool*>(data) = true;
}

} // namespace

QSize Output::uprightSize() const
{
    // The odd transforms are the quarter turns.
    return (transform & 1) != 0 ? mode.transposed() : mode;
}

std::unique_ptr<Connection> Connection::open(const char* name, Failure* failure, std::chrono::milliseconds limit)
{
    // One deadline for the whole exchange: a compositor that answers a byte
    // at a time must not stretch it.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    const auto fail = [failure](Failure why) {
        if (failure != nullptr)
            *failure = why;
        return nullptr;
    };
    wl_display* display = wl_display_connect(name);
    if (display == nullptr)
        return fail(Failure::Unreachable);
    std::unique_ptr<Connection> connection(new Connection);
    connection->m_display = display;
    connection->m_registry = wl_display_get_registry(display);
    static const wl_registry_listener listener = {.global = &Connection::global,
                                                  .global_remove = &Connection::globalRemove};
    wl_registry_add_listener(connection->m_registry, &listener, connection.get());
    // The globals, then what each output and the seat say about themselves.
    if (!connection->roundtripBefore(deadline) || !connection->roundtripBefore(deadline))
        return fail(connection->lost() ? Failure::Broken : Failure::Silent);
    return connection;
}

Connection::~Connection()
{
    m_seat.release();
    for (auto& output : m_outputs)
        wl_output_destroy(output->output);
    if (m_screencopy != nullptr)
        zwlr_screencopy_manager_v1_destroy(m_screencopy);
    if (m_viewporter != nullptr)
        wp_viewporter_destroy(m_viewporter);
    if (m_layerShell != nullptr)
        zwlr_layer_shell_v1_destroy(m_layerShell);
    if (m_windowManager != nullptr)
        xdg_wm_base_destroy(m_windowManager);
    if (m_shm != nullptr)
        wl_shm_destroy(m_shm);
    if (m_compositor != nullptr)
        wl_compositor_destroy(m_compositor);
    if (m_registry != nullptr)
        wl_registry_destroy(m_registry);
    if (m_display != nullptr)
        wl_display_disconnect(m_display);
}

void Connection::global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                        std::uint32_t version)
{
    auto* self = static_cast<Connection*>(data);
    auto bind = [&](const wl_interface& type, std::uint32_t upTo) {
        return wl_registry_bind(registry, name, &type, std::min(version, upTo));
    };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0 && self->m_compositor == nullptr) {
        self->m_compositor = static_cast<wl_compositor*>(bind(wl_compositor_interface, 4));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0 && self->m_shm == nullptr) {
        self->m_shm = static_cast<wl_shm*>(bind(wl_shm_interface, 1));
    } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0 && self->m_layerShell == nullptr
               && version >= minimumLayerShell) {
        self->m_layerShell = static_cast<zwlr_layer_shell_v1*>(bind(zwlr_layer_shell_v1_interface, 4));
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0 && self->m_windowManager == nullptr) {
        self->m_windowManager = static_cast<xdg_wm_base*>(bind(xdg_wm_base_interface, 5));
        static const xdg_wm_base_listener listener = {.ping = &ping};
        xdg_wm_base_add_listener(self->m_windowManager, &listener, nullptr);
    } else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0
               && self->m_screencopy == nullptr) {
        self->m_screencopy = static_cast<zwlr_screencopy_manager_v1*>(bind(zwlr_screencopy_manager_v1_interface, 3));
    } else if (std::strcmp(interface, wp_viewporter_interface.name) == 0 && self->m_viewporter == nullptr) {
        self->m_viewporter = static_cast<wp_viewporter*>(bind(wp_viewporter_interface, 1));
    } else if (std::strcmp(interface, "org_kde_plasma_shell") == 0) {
        self->m_kwin = true; // only known by its name: nothing of it is bound
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->m_seat.bound()) {
        self->m_seat.bind(static_cast<wl_seat*>(bind(wl_seat_interface, 5)));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        self->addOutput(name, version);
    }
}

void Connection::addOutput(std::uint32_t name, std::uint32_t version)
{
    auto output = std::make_unique<Output>();
    output->globalName = name;
    output->owner = this;
    output->output = static_cast<wl_output*>(
        wl_registry_bind(m_registry, name, &wl_output_interface, std::min<std::uint32_t>(version, 4)));
    static const wl_output_listener listener = {
        .geometry = &outputGeometry,
        .mode = &outputMode,
        .done = &outputDone,
        .scale = &outputScale,
        .name = &outputName,
        .description = &outputDescription,
    };
    wl_output_add_listener(output->output, &listener, output.get());
    m_outputs.push_back(std::move(output));
}

void Connection::outputDone(void* data, wl_output*)
{
    auto* output = static_cast<Output*>(data);
    const bool first = !output->done;
    output->done = true;
    if (first && output->owner->onOutputAdded)
        output->owner->onOutputAdded(*output);
}

void Connection::globalRemove(void* data, wl_registry*, std::uint32_t name)
{
    auto* self = static_cast<Connection*>(data);
    const auto it = std::find_if(self->m_outputs.begin(), self->m_outputs.end(),
                                 [name](const auto& output) { return output->globalName == name; });
    if (it == self->m_outputs.end())
        return;
    if (self->onOutputRemoved)
        self->onOutputRemoved(**it);
    wl_output_destroy((*it)->output);
    self->m_outputs.erase(it);
}

std::vector<std::string> Connection::runtimeSockets(const std::string& runtimeDir)
{
    std::vector<std::pair<unsigned long, std::string>> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(runtimeDir, error)) {
        const std::string name = entry.path().filename().string();
        const std::string digits = name.substr(std::min(name.size(), std::strlen("wayland-")));
        if (name.rfind("wayland-", 0) != 0 || digits.empty() || digits.size() > 9
            || digits.find_first_not_of("0123456789") != std::string::npos || !entry.is_socket(error))
            continue;
        found.emplace_back(std::stoul(digits), entry.path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> sockets;
    sockets.reserve(found.size());
    for (auto& socket : found)
        sockets.push_back(std::move(socket.second));
    return sockets;
}

int Connection::fd() const
{
    return wl_display_get_fd(m_display);
}

bool Connection::roundtrip()
{
    return wl_display_roundtrip(m_display) >= 0;
}

bool Connection::roundtripBefore(std::chrono::steady_clock::time_point deadline)
{
    bool done = false;
    static const wl_callback_listener listener = {.done = &syncDone};
    wl_callback* callback = wl_display_sync(m_display);
    wl_callback_add_listener(callback, &listener, &done);
    bool answered = false;
    for (;;) {
        bool failed = false;
        while (!failed && wl_display_prepare_read(m_display) != 0)
            failed = wl_display_dispatch_pending(m_display) < 0;
        if (failed)
            break;
        if (done || lost()) {
            wl_display_cancel_read(m_display);
            answered = done && !lost();
            break;
        }
        // Whatever of our requests the socket does not take now waits for
        // room, within the same deadline.
        short events = POLLIN;
        if (wl_display_flush(m_display) < 0) {
            if (errno != EAGAIN) {
                wl_display_cancel_read(m_display);
                break;
            }
            events |= POLLOUT;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd watched = {.fd = fd(), .events = events, .revents = 0};
        const int ready = left.count() > 0 ? ::poll(&watched, 1, static_cast<int>(left.count())) : 0;
        if (ready <= 0) {
            wl_display_cancel_read(m_display);
            if (ready < 0 && errno == EINTR)
                continue;
            break; // out of time (or poll itself failed)
        }
        if ((watched.revents & POLLIN) == 0) {
            wl_display_cancel_read(m_display);
            if ((watched.revents & (POLLERR | POLLHUP)) != 0)
                break;
            continue; // room to send: flush again
        }
        if (wl_display_read_events(m_display) < 0 || wl_display_dispatch_pending(m_display) < 0)
            break;
    }
    // An answer that comes after all goes to a proxy that is gone: dropped.
    wl_callback_destroy(callback);
    return answered;
}

bool Connection::flush()
{
    while (wl_display_flush(m_display) < 0) {
        if (errno != EAGAIN)
            return false;
        // The socket is full: what is queued goes once the compositor reads.
        if (wl_display_dispatch_pending(m_display) < 0)
            return false;
        break;
    }
    return !lost();
}

bool Connection::readAndDispatch()
{
    while (wl_display_prepare_read(m_display) != 0) {
        if (wl_display_dispatch_pending(m_display) < 0)
            return false;
    }
    if (wl_display_read_events(m_display) < 0)
        return false;
    return wl_display_dispatch_pending(m_display) >= 0;
}

bool Connection::dispatchPending()
{
    return wl_display_dispatch_pending(m_display) >= 0;
}

bool Connection::lost() const
{
    return wl_display_get_error(m_display) != 0;
}

} // namespace hakop::platform::wayland
