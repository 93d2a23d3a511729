#pragma once
// A picture prepared once for drawing with its key colour left out: its pixels
// as RGB32, the key colour (the bottom-left pixel's colour) and, per row, the
// runs of pixels that are not the key colour, which are also its mask. Copies
// share one prepared form, so the frame store works it out once per picture
// and every canvas draws from it.
#include <QImage>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace hakop {

class KeyedFrame {
public:
    using Run = std::pair<int, int>; // columns [first, second) that are not the key colour

    // No picture: draws nothing.
    KeyedFrame() = default;
    // Converts 'picture' to RGB32 (shares its pixels when it already is) and
    // finds its runs.
    explicit KeyedFrame(const QImage& picture);

    bool isNull() const { return !m_data; }
    // The picture as RGB32; null for no picture.
    const QImage& image() const;
    int width() const { return image().width(); }
    int height() const { return image().height(); }
    QSize size() const { return image().size(); }
    // The key colour as 0x00RRGGBB.
    QRgb keyColour() const { return m_data ? m_data->key : 0; }
    // The runs of row y, as [begin, end). Asked for every row a drawing
    // covers, so it is inline and asks nothing of the picture itself.
    std::pair<const Run*, const Run*> runs(int y) const
    {
        if (!m_data || y < 0 || std::size_t(y) + 1 >= m_data->rowStart.size())
            return {nullptr, nullptr};
        const Run* base = m_data->runs.data();
        return {base + m_data->rowStart[std::size_t(y)], base + m_data->rowStart[std::size_t(y) + 1]};
    }
    // How many runs the picture has, over all its rows.
    std::size_t runCount() const { return m_data ? m_data->runs.size() : 0; }
    // Tells prepared forms apart for as long as any copy lives; never reused,
    // so a canvas may keep what it made of a frame under this number. 0: no picture.
    std::uint64_t id() const { return m_data ? m_data->id : 0; }

    friend bool operator==(const KeyedFrame& a, const KeyedFrame& b) { return a.m_data == b.m_data; }

private:
    struct Data {
        QImage rgb;
        QRgb key = 0;
        std::vector<int> rowStart; // runs of row y are runs[rowStart[y] .. rowStart[y + 1]); one per row and one more
        std::vector<Run> runs;
        std::uint64_t id = 0;
    };
    std::shared_ptr<const Data> m_data;
};

} // namespace hakop
