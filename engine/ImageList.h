#pragma once
// The frame store: the 48 embedded sprite pictures and the 50-slot frame table
// through which the animation picks a sprite state's colour frame (slot s) and
// its silhouette (slot s + FrameOffset). Each picture's keyed form is worked
// out here, once, and every canvas draws from it.
#include "KeyedFrame.h"

#include <QImage>
#include <array>

namespace hakop {

class TIForm {
public:
    static constexpr int ImageCount = 48;
    static constexpr int SlotCount = 50;
    static constexpr int FrameWidth = 85;
    static constexpr int FrameHeight = 75;

    // Loads Image1 .. Image48 from the embedded resources (":/frames/ImageN.png")
    // and fills the table. Throws std::runtime_error if a picture is missing or
    // not FrameWidth x FrameHeight.
    TIForm();
    // The same from pictures at hand: images[0] is Image1. Lets tools and tests
    // run the engine on artwork of their own. Same checks as above.
    explicit TIForm(const std::array<QImage, ImageCount>& images);

    TIForm(const TIForm&) = delete;
    TIForm& operator=(const TIForm&) = delete;

    // Slot 1 .. 50; the reference stays valid for the store's life.
    // Any other slot throws std::out_of_range.
    const KeyedFrame& Frames(int slot) const;
    // Picture component 1 .. 48 (as RGB32); any other number throws std::out_of_range.
    const QImage& Image(int n) const;
    int FrameOffset() const { return m_frameOffset; }

private:
    void setImage(int n, const QImage& picture, const QString& origin);
    void FormCreate();

    std::array<KeyedFrame, ImageCount + 1> m_images; // index 0 unused
    std::array<const KeyedFrame*, SlotCount + 1> m_frames{}; // index 0 unused
    int m_frameOffset = 0;
};

} // namespace hakop
