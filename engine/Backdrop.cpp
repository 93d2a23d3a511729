#include "Backdrop.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace hakop::hosted {

namespace {

// The size a picture is scaled to so that it covers 'size', keeping its
// proportions; rounded up, so it never falls a pixel short of the window.
QSize coveringSize(QSize picture, QSize size)
{
    const double scale = std::max(double(size.width()) / picture.width(), double(size.height()) / picture.height());
    return QSize(std::max(size.width(), int(std::ceil(picture.width() * scale - 1e-9))),
                 std::max(size.height(), int(std::ceil(picture.height() * scale - 1e-9))));
}

QImage neutralRows(QSize size, int top, int count)
{
    QImage image(size.width(), count, QImage::Format_RGB32);
    // A pale sky over a slightly darker haze; every pixel far from black.
    const QColor high(0xd8, 0xe2, 0xea);
    const QColor low(0xa9, 0xb8, 0xc4);
    for (int i = 0; i < count; ++i) {
        const int y = top + i;
        const double t = size.height() > 1 ? double(y) / (size.height() - 1) : 0.0;
        const QRgb colour = qRgb(int(std::lround(high.red() + (low.red() - high.red()) * t)),
                                 int(std::lround(high.green() + (low.green() - high.green()) * t)),
                                 int(std::lround(high.blue() + (low.blue() - high.blue()) * t)));
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(i));
        std::fill(row, row + size.width(), colour);
    }
    return image;
}

} // namespace

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
    const QSize scaled = coveringSize(source.size(), size);
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
    return neutralRows(size, 0, size.height());
}

BackdropBands::BackdropBands(const QImage& picture, QSize size)
    : m_size(size)
{
    if (size.isEmpty() || picture.isNull())
        return;
    QImage source = picture.convertToFormat(QImage::Format_RGB32);
    source.setDevicePixelRatio(1.0);
    const QSize scaled = coveringSize(source.size(), size);
    if (scaled.width() > source.width() || scaled.height() > source.height()) {
        m_source = std::move(source);
        m_scaled = scaled;
    } else {
        m_fitted = coverFit(source, size);
    }
}

QImage BackdropBands::rows(int top, int count) const
{
    if (m_size.isEmpty() || count <= 0)
        return QImage();
    if (!m_fitted.isNull())
        return m_fitted.copy(0, top, m_size.width(), count);
    if (m_source.isNull())
        return neutralRows(m_size, top, count);
    // The band is a window onto the whole enlarged picture, centred as
    // coverFit centres it: every pixel is computed from its place in the
    // whole, so neighbouring bands join as if painted at once.
    QImage band(m_size.width(), count, QImage::Format_RGB32);
    band.fill(Qt::black);
    QPainter painter(&band);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const QPoint offset((m_scaled.width() - m_size.width()) / 2, (m_scaled.height() - m_size.height()) / 2);
    painter.translate(-offset.x(), -(offset.y() + top));
    painter.scale(double(m_scaled.width()) / m_source.width(), double(m_scaled.height()) / m_source.height());
    painter.drawImage(QPointF(0, 0), m_source);
    painter.end();
    return band;
}

} // namespace hakop::hosted
