#pragma once
// The saver's surface kept by the X server. A pixmap the size of the window
// holds the pixels, and another the parts of the desktop snapshot that
// drawing has covered since (see CleanPicture); each frame of the
// figures goes to the server once, with a one-bit mask made from its runs;
// every drawing is then a copy the server makes, so a tick sends a few small
// requests and no screen-sized picture ever passes through our memory. The
// window has the pixmap as its background: the server restores whatever gets
// exposed without asking us.
#include "engine/Canvas.h"
#include "CleanPicture.h"
#include "XPixelFormat.h"

#include <QImage>
#include <QRegion>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

struct xcb_connection_t;

namespace hakop {

class ServerCanvas : public Canvas {
public:
    // connection is the one the window lives on; window its id;
    // size the window's size in its own (device) pixels. snapshot, when not
    // 0, is a pixmap of the window's depth holding the desktop at the
    // window's size (see copyRootToPixmap); the canvas owns and frees it,
    // and its pixels start as the snapshot rather than black. Null when the
    // window's visual is not TrueColor or the server has no room for the
    // pixmap (the snapshot is freed then too).
    // With asBackground false the window keeps its own background: it
    // belongs to someone else (a screensaver host's window, or the root), and
    // the X protocol cannot tell us what it was to put it back; its exposed
    // parts are then the caller's to copy again with show().
    static std::unique_ptr<ServerCanvas> create(xcb_connection_t* connection, std::uint32_t window, QSize size,
                                                std::uint32_t snapshot = 0, bool asBackground = true);
    ~ServerCanvas() override;
    ServerCanvas(const ServerCanvas&) = delete;
    ServerCanvas& operator=(const ServerCanvas&) = delete;

    QSize size() const override { return m_size; }
    void drawBackdrop() override;
    void releaseBackdrop() override;
    QImage backdrop() const override;
    void drawImage(const QImage& picture, QPoint at) override;
    void drawFrame(const KeyedFrame& frame, QPoint at, bool keyed, const QRegion& clip, const QRect& box) override;
    QImage read() const override;
    // Copies 'changed' onto the window and sends everything queued: one write.
    void present(const QRegion& changed) override;

    // Uploads 'picture' (the canvas's size) as the snapshot: the pixels show
    // it now and drawBackdrop() restores it. For a backdrop that does not come
    // from the screen.
    void setBackdrop(const QImage& picture);
    // The pixels as they are become the snapshot, as with setBackdrop(): for a
    // backdrop too large to hold at once, drawn in bands with drawImage().
    void keepPixelsAsBackdrop();

    // Shows the pixels on 'window' (of the same size and depth) from now on,
    // the old window being gone.
    void setWindow(std::uint32_t window);

    // Copies 'region' of the pixels onto the window, once the requests are sent.
    void show(const QRegion& region);
    // Sends the requests queued so far.
    void flush();

    // Frames uploaded so far. For tests.
    std::size_t uploadedPictures() const { return m_pictures.size(); }


private:
    struct Picture {
        KeyedFrame keep; // the frame the id names, kept alive while uploaded
        std::uint32_t pixmap = 0;
        std::uint32_t mask = 0;
        // Copies through the mask. A figure mostly stays where it was, so
        // each picture keeps its own clip origin rather than one GC's being
        // changed for every drawing.
        std::uint32_t maskGc = 0;
        QPoint maskOrigin;
    };
    ServerCanvas() = default;
    Picture& upload(const KeyedFrame& frame);
    // Before the pixels in 'area' change.
    void saveBefore(const QRect& area);
    void showRect(const QRect& rect);
    void put(std::uint32_t drawable, const QImage& rgb, const QRect& source, QPoint at);
    QImage readPixmap(std::uint32_t pixmap) const;
    void freePictures();

    xcb_connection_t* m_connection = nullptr;
    std::uint32_t m_window = 0;
    bool m_asBackground = true;
    std::uint32_t m_pixmap = 0;
    std::unique_ptr<x11::CleanPicture> m_snapshot;
    bool m_showsBackdrop = false; // nothing drawn since the snapshot was: redrawing it changes nothing
    std::uint32_t m_copyGc = 0; // plain copies
    std::uint32_t m_bitmapGc = 0; // for drawing masks; made with the first one
    std::uint8_t m_depth = 0;
    x11::XPixelFormat m_format;
    QSize m_size;
    std::uint32_t m_maxRequestBytes = 0;
    std::unordered_map<std::uint64_t, Picture> m_pictures; // by KeyedFrame::id()
    std::vector<std::uint8_t> m_buffer; // packing buffer for uploads
    std::vector<QRect> m_boxes; // what a present copies, kept from tick to tick
};

} // namespace hakop
