#pragma once
// Puts pixels straight onto an X11 window, past the toolkit's backing store:
// the window's own pixels are an exact copy of a picture we keep, so the
// cheapest way to show a change is to send just the changed rectangles.
//
// Where the server offers MIT-SHM, the presenter owns a shared memory segment
// the size of the window and hands it out as a QImage: whoever draws into that
// picture draws where the server reads, and showing a rectangle is one small
// request with no pixels in it and no reply. Without MIT-SHM (a remote
// server), rectangles are sent as plain PutImage requests.
#include <QImage>
#include <QRegion>

#include <cstdint>
#include <memory>
#include <vector>

namespace hakop::platform {

class ShmPresenter {
public:
    enum class Transport { SharedFd, SharedSysV, Plain };

    // connection is the xcb_connection_t* the window lives on; window its id;
    // size the window's size in its own (device) pixels. Returns null when the
    // window's pixels are not 32-bit 0x??RRGGBB words in this machine's byte
    // order (8- and 16-bit displays): the caller then paints the usual way.
    // allowShared false skips shared memory (tests use it to try the plain path).
    static std::unique_ptr<ShmPresenter> create(void* connection, std::uint32_t window, QSize size,
                                                bool allowShared = true);
    ~ShmPresenter();
    ShmPresenter(const ShmPresenter&) = delete;
    ShmPresenter& operator=(const ShmPresenter&) = delete;

    Transport transport() const { return m_transport; }
    QSize size() const { return m_size; }

    // A black RGB32 picture of the window's size living in the shared segment
    // (null without shared memory). Keep exactly one copy of it and draw into
    // that: a second copy would make the first drawing detach into private
    // memory (present() still works then, by copying). The memory stays valid
    // for as long as any copy of the picture or the presenter lives.
    QImage sharedImage() const;

    // Shows 'region' of 'image' (RGB32 or ARGB32, window pixel coordinates) at
    // the same place on the window and flushes the requests. Parts outside the
    // window or the image are left out. Sends no request that needs a reply.
    void present(const QImage& image, const QRegion& region);

    // Requests sent by the last present(): one per rectangle, more when a plain
    // rectangle is too big for one request. For tests and measurements.
    int lastRequestCount() const { return m_lastRequests; }

private:
    struct Segment;
    ShmPresenter() = default;
    bool attachShared(bool useFd);
    void putShared(const QRect& r);
    void putPlain(const QImage& image, const QRect& r);

    void* m_connection = nullptr;
    std::uint32_t m_window = 0;
    std::uint32_t m_gc = 0;
    std::uint8_t m_depth = 0;
    QSize m_size;
    Transport m_transport = Transport::Plain;
    std::shared_ptr<Segment> m_segment;
    std::uint32_t m_shmSeg = 0;
    std::uint32_t m_maxRequestBytes = 0;
    std::vector<std::uint32_t> m_rows; // packing buffer for plain requests
    int m_lastRequests = 0;
};

} // namespace hakop::platform
