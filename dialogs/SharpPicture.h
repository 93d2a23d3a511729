#pragma once
// A picture box for pixel art. On a high-density screen the toolkit would
// smooth an enlarged picture; this one enlarges it by whole pixels when the
// scale factor is a whole number and by nearest neighbour otherwise, so the
// screen shows only the picture's own colours.
#include <QLabel>
#include <QPixmap>

namespace hakop {

class SharpPicture : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    // The picture as it goes to a screen of the given device pixel ratio:
    // its logical size times the ratio, rounded, every pixel copied from the
    // nearest source pixel. Carries the ratio, so it covers the same logical
    // area as the source.
    static QPixmap enlarged(const QPixmap& source, qreal ratio);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_enlarged;
    qreal m_ratio = 0;
    qint64 m_sourceKey = 0;
};

} // namespace hakop
