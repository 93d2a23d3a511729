#include "Backdrop.h"

#include <algorithm>
#include <cmath>

namespace hakop::hosted {

QImage coverFit(const QImage& picture, QSize size)
{
    if (size.isEmpty())
        return QImage();
    QImage source = picture.convertToFormat(QImage::Format_RGB32);
    source.setDevicePixelRatio(1.0);
    if (source.isNull()) {
        QImage black(size, QImage::Format_RGB32);
        black.fill(Qt::black);
        return black;
    }
    if (source.size() == size)
        return source;
    const double scale = std::max(double(size.width()) / source.width(), double(size.height()) / source.height());
    // Rounded up, so the scaled picture never falls a pixel short of the window.
    const QSize scaled(std::max(size.width(), int(std::ceil(source.width() * scale - 1e-9))),
                       std::max(size.height(), int(std::ceil(source.height() * scale - 1e-9))));
    const QImage big = source.scaled(scaled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QPoint offset((scaled.width() - size.width()) / 2, (scaled.height() - size.height()) / 2);
    QImage fitted = big.copy(QRect(offset, size)).convertToFormat(QImage::Format_RGB32);
    fitted.setDevicePixelRatio(1.0);
    return fitted;
}

QImage neutralBackdrop(QSize size)
{
    if (size.isEmpty())
        return QImage();
    QImage image(size, QImage::Format_RGB32);
    // A pale sky over a slightly darker haze; every pixel far from black.
    const QColor top(0xd8, 0xe2, 0xea);
    const QColor bottom(0xa9, 0xb8, 0xc4);
    for (int y = 0; y < size.height(); ++y) {
        const double t = size.height() > 1 ? double(y) / (size.height() - 1) : 0.0;
        const QRgb colour = qRgb(int(std::lround(top.red() + (bottom.red() - top.red()) * t)),
                                 int(std::lround(top.green() + (bottom.green() - top.green()) * t)),
                                 int(std::lround(top.blue() + (bottom.blue() - top.blue()) * t)));
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(row, row + size.width(), colour);
    }
    return image;
}

} // namespace hakop::hosted
