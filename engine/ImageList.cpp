#include "ImageList.h"

#include <stdexcept>
#include <string>

namespace hakop {

TIForm::TIForm()
{
    for (int n = 1; n <= ImageCount; ++n) {
        const QString path = QStringLiteral(":/frames/Image%1.png").arg(n);
        setImage(n, QImage(path), path);
    }
    FormCreate();
}

TIForm::TIForm(const std::array<QImage, ImageCount>& images)
{
    for (int n = 1; n <= ImageCount; ++n)
        setImage(n, images[n - 1], QStringLiteral("Image%1").arg(n));
    FormCreate();
}

void TIForm::setImage(int n, const QImage& picture, const QString& origin)
{
    if (picture.isNull())
        throw std::runtime_error("frame picture " + origin.toStdString() + " is missing or unreadable");
    if (picture.width() != FrameWidth || picture.height() != FrameHeight)
        throw std::runtime_error("frame picture " + origin.toStdString() + " is "
                                 + std::to_string(picture.width()) + " x " + std::to_string(picture.height())
                                 + " pixels, not " + std::to_string(FrameWidth) + " x "
                                 + std::to_string(FrameHeight));
    // Converted and keyed once here, so drawing never has to work anything out.
    m_images[n] = KeyedFrame(picture);
}

void TIForm::FormCreate()
{
    for (int s = 1; s <= 19; ++s)
        m_frames[s] = &m_images[s];
    m_frames[20] = &m_images[13];
    for (int s = 21; s <= 25; ++s)
        m_frames[s] = &m_images[s + 18]; // Image39 .. Image43
    m_frameOffset = 25;
    // The silhouettes are addressed through FrameOffset, so slot s + FrameOffset
    // is always the silhouette of slot s.
    for (int s = 1; s <= 19; ++s)
        m_frames[m_frameOffset + s] = &m_images[s + 19]; // Image20 .. Image38
    m_frames[m_frameOffset + 20] = &m_images[32];
    for (int s = 21; s <= 25; ++s)
        m_frames[m_frameOffset + s] = &m_images[s + 23]; // Image44 .. Image48
}

const KeyedFrame& TIForm::Frames(int slot) const
{
    if (slot < 1 || slot > SlotCount)
        throw std::out_of_range("frame slot " + std::to_string(slot) + " is outside 1 .. 50");
    return *m_frames[slot];
}

const QImage& TIForm::Image(int n) const
{
    if (n < 1 || n > ImageCount)
        throw std::out_of_range("picture " + std::to_string(n) + " is outside 1 .. 48");
    return m_images[n].image();
}

} // namespace hakop
