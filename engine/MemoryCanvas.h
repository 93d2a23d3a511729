#pragma once
// A canvas in our own memory: a QImage the engine draws into, pixel for pixel.
#include "Canvas.h"

namespace hakop {

class MemoryCanvas : public Canvas {
public:
    // Pixels of 'backdrop's size, restored to it on drawBackdrop.
    explicit MemoryCanvas(QImage backdrop);
    // Draws into 'pixels' (memory shared with a display server, say: see
    // usePixels) with 'backdrop' as the snapshot, both of one size. Nothing
    // is allocated or written: the pixels start as they are.
    MemoryCanvas(QImage backdrop, QImage pixels);
    // Pixels of 'size' in 'format', with no snapshot.
    explicit MemoryCanvas(QSize size, QImage::Format format = QImage::Format_RGB32);

    // Draws into 'pixels' from now on (the same size and a 32-bit format):
    // memory shared with a display server, say. The canvas must hold the
    // only reference, else the first drawing would copy it.
    void usePixels(QImage pixels) { m_pixels = std::move(pixels); }

    QSize size() const override { return m_pixels.size(); }
    void drawBackdrop() override;
    void releaseBackdrop() override { m_backdrop = QImage(); }
    QImage backdrop() const override { return m_backdrop; }
    void drawImage(const QImage& picture, QPoint at) override;
    void drawFrame(const KeyedFrame& frame, QPoint at, bool keyed, const QRegion& clip, const QRect& box) override;
    // The pixels themselves, shared rather than copied.
    QImage read() const override { return m_pixels; }
    // The pixels are all there is to see: nothing to do.
    void present(const QRegion&) override {}

private:
    QImage m_backdrop;
    QImage m_pixels;
};

} // namespace hakop
