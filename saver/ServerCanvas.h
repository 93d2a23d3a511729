#pragma once
// The saver's surface kept by the X server. A pixmap the size of the window
// holds the pixels; each picture of the figures goes to the server once, with
// a one-bit mask of its pixels that are not the key colour; every drawing is
// then a copy the server makes, so a tick sends a few small requests and
// touches no pixels of its own. The window has the pixmap as its background:
// the server restores whatever gets exposed without asking us.
//
// A window that belongs to someone else (a screensaver host's, or the root)
// keeps its own background: its owner set it, and the X protocol cannot tell
// us what it was to put it back. Its exposed parts are then the caller's to
// copy again with show().
#include "PixelServer.h"

#include <QImage>
#include <QRegion>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace hakop {

class ServerCanvas : public PixelServer {
public:
    // connection is the xcb_connection_t* the window lives on; window its id;
    // size the window's size in its own (device) pixels. Null when the
    // window's pixels are not 32-bit 0x??RRGGBB words in this machine's byte
    // order (8- and 16-bit displays), or the server has no room for the
    // pixmap: the caller then keeps the pixels itself.
    static std::unique_ptr<ServerCanvas> create(void* connection, std::uint32_t window, QSize size,
                                                bool asBackground = true);
    ~ServerCanvas() override;
    ServerCanvas(const ServerCanvas&) = delete;
    ServerCanvas& operator=(const ServerCanvas&) = delete;

    QSize size() const override { return m_size; }
    void drawImage(const QImage& picture, QPoint at) override;
    void drawPicture(const QImage& picture, QPoint at, bool keyed, const QRegion& clip, const QRect& box) override;
    QImage read() const override;

    // Copies 'region' of the pixels onto the window, once the requests are sent.
    void show(const QRegion& region);
    // Sends the requests queued so far.
    void flush();

    // Pictures uploaded so far. For tests.
    std::size_t uploadedPictures() const { return m_pictures.size(); }

private:
    struct Picture {
        QImage keep; // holds the cache key: it cannot name other pixels while kept
        std::uint32_t pixmap = 0;
        std::uint32_t mask = 0;
        // Copies through the mask. A figure mostly stays where it was, so
        // each picture keeps its own clip origin rather than one GC's being
        // changed for every drawing.
        std::uint32_t maskGc = 0;
        QPoint maskOrigin;
    };
    ServerCanvas() = default;
    Picture& upload(const QImage& picture);
    void put(std::uint32_t drawable, std::uint32_t gc, std::uint8_t depth, const QImage& image, const QRect& source,
             QPoint at);
    void freePictures();

    void* m_connection = nullptr;
    std::uint32_t m_window = 0;
    bool m_asBackground = true;
    std::uint32_t m_pixmap = 0;
    std::uint32_t m_copyGc = 0; // plain copies
    std::uint32_t m_bitmapGc = 0; // for uploading masks; made with the first one
    std::uint8_t m_depth = 0;
    QSize m_size;
    std::uint32_t m_maxRequestBytes = 0;
    std::unordered_map<qint64, Picture> m_pictures;
    std::vector<std::uint8_t> m_buffer; // packing buffer for uploads
};

} // namespace hakop
