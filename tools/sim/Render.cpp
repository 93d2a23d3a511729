#include "Render.h"

#include "engine/ImageList.h"
#include "engine/SaverScene.h"

#include <QFileInfo>
#include <QImageReader>

namespace hakop::sim {

Picture readPicture(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {{}, QStringLiteral("no such file")};
    if (info.isDir())
        return {{}, QStringLiteral("it is a folder")};
    if (!info.isReadable())
        return {{}, QStringLiteral("permission denied")};
    QImageReader reader(path);
    QImage image = reader.read();
    if (image.isNull())
        return {{}, reader.errorString()};
    return {image.convertToFormat(QImage::Format_RGB32), {}};
}

bool run(const QImage& backdrop, std::uint32_t seed, std::uint64_t ticks,
         const std::function<bool(std::uint64_t, const QImage&)>& frame)
{
    const TIForm frames;
    SaverScene scene(backdrop, frames);
    scene.show(seed);
    scene.paintPending(); // the first showing's pass
    if (!frame(0, scene.surface().pixels()))
        return false;
    for (std::uint64_t t = 1; t <= ticks; ++t) {
        scene.tick();
        scene.paintPending();
        if (!frame(t, scene.surface().pixels()))
            return false;
    }
    return true;
}

std::optional<qulonglong> number(const char* text, qulonglong max)
{
    bool ok = false;
    const qulonglong v = QString::fromLocal8Bit(text).toULongLong(&ok, 10);
    if (!ok || v > max)
        return std::nullopt;
    return v;
}

} // namespace hakop::sim
