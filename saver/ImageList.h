#pragma once
// The frame store: the 48 embedded sprite pictures and the 50-slot frame table
// through which the animation picks a sprite state's colour frame (slot s) and
// its silhouette (slot s + FrameOffset).
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
    // and fills the table. Throws std::runtime_error if a picture is missing.
    TIForm();

    TIForm(const TIForm&) = delete;
    TIForm& operator=(const TIForm&) = delete;

    // Slot 1 .. 50; the reference stays valid for the store's life.
    const QImage& Frames(int slot) const;
    // Picture component 1 .. 48.
    const QImage& Image(int n) const;
    int FrameOffset() const { return m_frameOffset; }

private:
    void FormCreate();

    std::array<QImage, ImageCount + 1> m_images; // index 0 unused
    std::array<const QImage*, SlotCount + 1> m_frames{}; // index 0 unused
    int m_frameOffset = 0;
};

} // namespace hakop
