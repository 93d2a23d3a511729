#include "SharpPicture.h"

#include <QImage>
#include <QPainter>

#include <cmath>

namespace hakop {

QPixmap SharpPicture::enlarged(const QPixmap& source, qreal ratio)
{
    if (source.isNull() || ratio <= 0)
        return source;
    const QSizeF logical = source.deviceIndependentSize();
    const QSize device(qMax(1, qRound(logical.width() * ratio)), qMax(1, qRound(logical.height() * ratio)));
    // Fast transformation is nearest-neighbour: at a whole factor k every
    // source pixel becomes exactly a k x k block.
    QImage image = source.toImage().scaled(device, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    image.setDevicePixelRatio(ratio);
    return QPixmap::fromImage(image, Qt::NoFormatConversion);
}

void SharpPicture::paintEvent(QPaintEvent* event)
{
    const QPixmap source = pixmap();
    if (source.isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    const qreal ratio = devicePixelRatioF();
    if (m_enlarged.isNull() || m_ratio != ratio || m_sourceKey != source.cacheKey()) {
        m_enlarged = enlarged(source, ratio);
        m_ratio = ratio;
        m_sourceKey = source.cacheKey();
    }
    // Drawn at its own ratio the picture maps one to one onto device pixels;
    // no smoothing is asked for, so none happens.
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawPixmap(QPointF(0, 0), m_enlarged);
}

} // namespace hakop
