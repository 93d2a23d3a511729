#pragma once
// The picture the figures stamp into, fitted to the window they play in.
// Window-system free: QtGui value types only.
#include <QImage>
#include <QSize>

namespace hakop::hosted {

// 'picture' scaled to cover 'size' (keeping its proportions) and centred, the
// overhang cut off on both sides. One device pixel per pixel: RGB32, device
// pixel ratio 1. A picture already of that size comes back pixel for pixel.
QImage coverFit(const QImage& picture, QSize size);

// The picture used when the host gives none: a calm light gradient the black
// silhouettes stand out on, made from nothing of the user's screen.
QImage neutralBackdrop(QSize size);

// The backdrop of a window of 'size' made a band of rows at a time, so that
// however large the window, its whole picture never has to sit in memory:
// coverFit(picture, size), or neutralBackdrop(size) for a null picture.
// Enlarged pictures are painted band by band (smoothly interpolated, the
// bands meeting without a seam); a picture larger than the window is fitted
// once, as that costs no more than the picture itself.
class BackdropBands {
public:
    BackdropBands(const QImage& picture, QSize size);

    // Rows [top, top + count) of the backdrop, RGB32, 'size' wide.
    QImage rows(int top, int count) const;

private:
    QSize m_size;
    QImage m_source; // to enlarge band by band; null otherwise
    QImage m_fitted; // the whole backdrop, when no larger than the picture
    QSize m_scaled; // the size m_source is enlarged to before the overhang is cut
};

} // namespace hakop::hosted
