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

} // namespace hakop::hosted
