#pragma once
// The desktop snapshot a server canvas restores, kept where drawing left it.
// A 64-pixel square is copied from the canvas's pixels into a pixmap as big
// as they are (made but never filled) just before it is first drawn on; the
// snapshot is then that pixmap in the saved squares and the pixels
// everywhere else. So no screen-sized copy stands between the desktop's copy
// and the first figures, and only the squares the figures ever reached take
// the server's memory.
#include <QImage>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <vector>

struct xcb_connection_t;

namespace hakop::x11 {

class CleanPicture {
public:
    // 'pixels' is a pixmap of 'size' and 'depth'; 'gc' copies plainly
    // between pixmaps of that depth. Nothing is kept yet.
    CleanPicture(xcb_connection_t* connection, std::uint32_t pixels, std::uint32_t gc, std::uint8_t depth,
                 QSize size);
    ~CleanPicture();
    CleanPicture(const CleanPicture&) = delete;
    CleanPicture& operator=(const CleanPicture&) = delete;

    // The pixels as they are now are the snapshot.
    void keepPixels();
    // Lets the snapshot go.
    void release();
    bool kept() const { return m_kept; }

    // Before the pixels in 'area' change: the squares there not saved yet
    // are copied. Without room on the server the snapshot is let go.
    void saveBefore(const QRect& area);
    // Copies the saved squares back: the pixels are the snapshot again.
    void restore();
    // The pixmap the saved squares are in (0: none yet), and the snapshot
    // made of 'pixels' and 'saved', the two read back. For checks.
    std::uint32_t savedPixmap() const { return m_saved; }
    QImage snapshot(QImage pixels, const QImage& saved) const;

private:
    // Calls copy(rect) for each run of saved squares, a row of squares at a time.
    template <typename Copy> void forSavedRuns(Copy copy) const;
    void copy(std::uint32_t from, std::uint32_t to, const QRect& r) const;

    xcb_connection_t* m_connection;
    std::uint32_t m_pixels;
    std::uint32_t m_gc;
    std::uint8_t m_depth;
    QSize m_size;
    bool m_kept = false;
    std::uint32_t m_saved = 0; // made at the first drawing
    std::vector<bool> m_squareSaved; // row by row
    int m_columns = 0;
};

} // namespace hakop::x11
