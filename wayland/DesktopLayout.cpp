#include "DesktopLayout.h"

#include "Connection.h"
#include "Protocols.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace hakop::platform::wayland {

namespace {

struct Learning {
    zxdg_output_manager_v1* manager = nullptr;
};

void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version)
{
    auto& learning = *static_cast<Learning*>(data);
    if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 && learning.manager == nullptr)
        learning.manager = static_cast<zxdg_output_manager_v1*>(
            wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface, std::min<std::uint32_t>(version, 2)));
}

void globalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener registryListener = {.global = &global, .global_remove = &globalRemove};

void position(void* data, zxdg_output_v1*, std::int32_t x, std::int32_t y)
{
    static_cast<QRect*>(data)->moveTopLeft(QPoint(x, y));
}

void size(void* data, zxdg_output_v1*, std::int32_t width, std::int32_t height)
{
    static_cast<QRect*>(data)->setSize(QSize(width, height));
}

void done(void*, zxdg_output_v1*) {}
void name(void*, zxdg_output_v1*, const char*) {}
void description(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener outputListener = {
    .logical_position = &position,
    .logical_size = &size,
    .done = &done,
    .name = &name,
    .description = &description,
};

} // namespace

std::vector<OutputPlace> outputPlaces(Connection& connection, const std::vector<Output*>& outputs,
                                      std::chrono::steady_clock::time_point deadline)
{
    std::vector<OutputPlace> places(outputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i)
        places[i].device = outputs[i]->uprightSize();

    Learning learning;
    wl_registry* registry = wl_display_get_registry(connection.display());
    wl_registry_add_listener(registry, &registryListener, &learning);
    bool answered = connection.roundtripBefore(deadline);
    wl_registry_destroy(registry);
    if (!answered)
        return {};
    if (learning.manager == nullptr) {
        if (outputs.size() != 1)
            return {};
        const int scale = std::max(1, outputs[0]->scale);
        places[0].logical = QRect(QPoint(0, 0), places[0].device / scale);
        return places;
    }
    std::vector<zxdg_output_v1*> described;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        described.push_back(zxdg_output_manager_v1_get_xdg_output(learning.manager, outputs[i]->output));
        zxdg_output_v1_add_listener(described.back(), &outputListener, &places[i].logical);
    }
    answered = connection.roundtripBefore(deadline);
    for (zxdg_output_v1* output : described)
        zxdg_output_v1_destroy(output);
    zxdg_output_manager_v1_destroy(learning.manager);
    if (!answered)
        return {};
    for (const OutputPlace& place : places)
        if (place.logical.isEmpty())
            return {};
    return places;
}

std::vector<QImage> cutOutputs(const QImage& desktop, const std::vector<OutputPlace>& places)
{
    std::vector<QImage> pictures(places.size());
    QRect bounds;
    for (const OutputPlace& place : places)
        bounds |= place.logical;
    if (desktop.isNull() || bounds.isEmpty())
        return pictures;
    // The desktop comes in layout units or in device pixels, one scale for
    // the whole picture; a picture of another shape is of something else.
    const double scaleX = double(desktop.width()) / bounds.width();
    const double scaleY = double(desktop.height()) / bounds.height();
    if (std::abs(scaleX - scaleY) > 0.01 * scaleX)
        return pictures;
    for (std::size_t i = 0; i < places.size(); ++i) {
        const QRect logical = places[i].logical.translated(-bounds.topLeft());
        const QPoint from(int(std::lround(logical.left() * scaleX)), int(std::lround(logical.top() * scaleY)));
        const QPoint to(int(std::lround((logical.right() + 1) * scaleX)),
                        int(std::lround((logical.bottom() + 1) * scaleY)));
        QImage part = desktop.copy(QRect(from, to - QPoint(1, 1))).convertToFormat(QImage::Format_RGB32);
        const QSize device = places[i].device.isEmpty() ? part.size() : places[i].device;
        if (part.size() != device)
            part = part.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        pictures[i] = std::move(part);
    }
    return pictures;
}

} // namespace hakop::platform::wayland
