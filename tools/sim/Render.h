#pragma once
// The headless run shared by hakop-sim and hakop-record: the saver engine on
// a picture, frame after frame, exactly as the saver window would show it.
#include <QImage>
#include <QString>

#include <cstdint>
#include <optional>
#include <functional>

namespace hakop::sim {

// A picture read as a desktop snapshot. On failure 'image' is null and
// 'error' says why in words fit for the user ("no such file", ...).
struct Picture {
    QImage image;
    QString error;
};
Picture readPicture(const QString& path);

// show(seed) and its first pass, then 'ticks' ticks each followed by the event
// loop's pass. 'frame' sees the surface after the first pass (tick 0) and
// after every tick; returning false stops the run early. Returns false if
// 'frame' stopped it.
bool run(const QImage& backdrop, std::uint32_t seed, std::uint64_t ticks,
         const std::function<bool(std::uint64_t tick, const QImage& pixels)>& frame);

// A whole decimal number from a command line, from 0 to 'max'; empty otherwise.
std::optional<qulonglong> number(const char* text, qulonglong max);

} // namespace hakop::sim
