#include "ShmPresenter.h"

#include <xcb/xcb.h>
#ifdef HAKOP_HAVE_XCB_SHM
#include <xcb/shm.h>
#endif

#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

namespace hakop::platform {

namespace {

xcb_connection_t* xcb(void* connection)
{
    return static_cast<xcb_connection_t*>(connection);
}

bool isDirect32(QImage::Format f)
{
    return f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied;
}

// A PutImage request's fixed part, in bytes.
constexpr std::uint32_t putImageHeader = 24;

// True when the window's pixels are 32-bit words 0x??RRGGBB in our own byte
// order, which is exactly how an RGB32 QImage keeps them.
bool windowTakesXrgbWords(xcb_connection_t* c, std::uint32_t window, std::uint8_t& depth)
{
    xcb_get_window_attributes_reply_t* attributes
        = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    if (attributes == nullptr || geometry == nullptr) {
        std::free(attributes);
        std::free(geometry);
        return false;
    }
    const xcb_visualid_t visualId = attributes->visual;
    depth = geometry->depth;
    std::free(attributes);
    std::free(geometry);

    const xcb_setup_t* setup = xcb_get_setup(c);
    const auto ourOrder = std::endian::native == std::endian::little ? XCB_IMAGE_ORDER_LSB_FIRST
                                                                      : XCB_IMAGE_ORDER_MSB_FIRST;
    if (setup->image_byte_order != ourOrder)
        return false;

    bool thirtyTwoBits = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it)) {
        if (it.data->depth == depth)
            thirtyTwoBits = it.data->bits_per_pixel == 32 && it.data->scanline_pad == 32;
    }
    if (!thirtyTwoBits)
        return false;

    for (auto screens = xcb_setup_roots_iterator(setup); screens.rem > 0; xcb_screen_next(&screens)) {
        for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem > 0;
             xcb_depth_next(&depths)) {
            for (auto v = xcb_depth_visuals_iterator(depths.data); v.rem > 0; xcb_visualtype_next(&v)) {
                if (v.data->visual_id != visualId)
                    continue;
                return v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR && v.data->red_mask == 0xff0000u
                    && v.data->green_mask == 0xff00u && v.data->blue_mask == 0xffu;
            }
        }
    }
    return false;
}

} // namespace

// The shared memory behind the picture: unmapped once neither the presenter
// nor any picture made from it is left.
struct ShmPresenter::Segment {
    void* address = nullptr;
    std::size_t bytes = 0;
    bool sysV = false;
    ~Segment()
    {
        if (address == nullptr)
            return;
        if (sysV)
            shmdt(address);
        else
            munmap(address, bytes);
    }
};

std::unique_ptr<ShmPresenter> ShmPresenter::create(void* connection, std::uint32_t window, QSize size,
                                                   bool allowShared)
{
    xcb_connection_t* c = xcb(connection);
    if (c == nullptr || window == 0 || size.isEmpty() || xcb_connection_has_error(c))
        return nullptr;
    std::uint8_t depth = 0;
    if (!windowTakesXrgbWords(c, window, depth))
        return nullptr;
    std::unique_ptr<ShmPresenter> p(new ShmPresenter);
    p->m_depth = depth;
    p->m_connection = connection;
    p->m_window = window;
    p->m_size = size;
    p->m_maxRequestBytes = xcb_get_maximum_request_length(c) * 4u;

    p->m_gc = xcb_generate_id(c);
    const std::uint32_t noExposures = 0;
    xcb_create_gc(c, p->m_gc, window, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);

    if (allowShared && !p->attachShared(true) && !p->attachShared(false))
        p->m_transport = Transport::Plain;
    return p;
}

ShmPresenter::~ShmPresenter()
{
    xcb_connection_t* c = xcb(m_connection);
    if (c == nullptr)
        return;
#ifdef HAKOP_HAVE_XCB_SHM
    // Requests already sent still read the segment; the server handles them
    // before it lets go. Our mapping stays while pictures made from it live.
    if (m_transport != Transport::Plain)
        xcb_shm_detach(c, m_shmSeg);
#endif
    xcb_free_gc(c, m_gc);
    xcb_flush(c);
}

bool ShmPresenter::attachShared(bool useFd)
{
#ifdef HAKOP_HAVE_XCB_SHM
    xcb_connection_t* c = xcb(m_connection);
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_shm_id);
    if (extension == nullptr || !extension->present)
        return false;
    if (useFd) {
        // Passing the memory as a file descriptor needs MIT-SHM 1.2 and a
        // local socket; it also works across IPC namespaces, where a SysV id
        // would name nothing (or, worse, someone else's segment).
        xcb_shm_query_version_reply_t* version = xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr);
        const bool hasFd = version != nullptr
            && (version->major_version > 1 || (version->major_version == 1 && version->minor_version >= 2));
        std::free(version);
        if (!hasFd)
            return false;
    }

    const std::size_t bytes = std::size_t(m_size.width()) * std::size_t(m_size.height()) * 4u;
    auto segment = std::make_shared<Segment>();
    segment->bytes = bytes;
    const std::uint32_t seg = xcb_generate_id(c);
    xcb_void_cookie_t cookie;
    int sysVId = -1;
    if (useFd) {
        const int fd = memfd_create("hakop-surface", MFD_CLOEXEC);
        if (fd < 0)
            return false;
        void* address = ftruncate(fd, off_t(bytes)) == 0
            ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
            : MAP_FAILED;
        if (address == MAP_FAILED) {
            close(fd);
            return false;
        }
        segment->address = address;
        // xcb closes the descriptor once it is sent; the mapping keeps the memory.
        cookie = xcb_shm_attach_fd_checked(c, seg, fd, 1);
    } else {
        sysVId = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
        if (sysVId < 0)
            return false;
        void* address = shmat(sysVId, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(sysVId, IPC_RMID, nullptr);
            return false;
        }
        segment->address = address;
        segment->sysV = true;
        cookie = xcb_shm_attach_checked(c, seg, std::uint32_t(sysVId), 1);
    }
    // Checked: an error comes back here, not to the toolkit's event queue.
    xcb_generic_error_t* error = xcb_request_check(c, cookie);
    if (sysVId >= 0)
        shmctl(sysVId, IPC_RMID, nullptr); // freed once both sides have let go
    if (error != nullptr) {
        std::free(error);
        return false;
    }

    // Fresh memory is zero: make it black with the opaque alpha RGB32 promises.
    auto* words = static_cast<std::uint32_t*>(segment->address);
    std::fill(words, words + bytes / 4u, 0xff000000u);
    m_segment = std::move(segment);
    m_shmSeg = seg;
    m_transport = useFd ? Transport::SharedFd : Transport::SharedSysV;
    return true;
#else
    (void)useFd;
    return false;
#endif
}

QImage ShmPresenter::sharedImage() const
{
    if (!m_segment)
        return {};
    // Each picture holds a share of the segment, so the memory outlives us if
    // it must. Every call wraps the same memory in a picture of its own.
    auto* keep = new std::shared_ptr<Segment>(m_segment);
    return QImage(
        static_cast<uchar*>(m_segment->address), m_size.width(), m_size.height(), qsizetype(m_size.width()) * 4,
        QImage::Format_RGB32, [](void* info) { delete static_cast<std::shared_ptr<Segment>*>(info); }, keep);
}

void ShmPresenter::present(const QImage& image, const QRegion& region)
{
    m_lastRequests = 0;
    if (image.isNull() || region.isEmpty())
        return;
    if (!isDirect32(image.format())) {
        present(image.convertToFormat(QImage::Format_RGB32), region);
        return;
    }
    const QRect bounds = image.rect() & QRect(QPoint(0, 0), m_size);
    const bool inSegment = m_segment && image.constBits() == m_segment->address
        && image.bytesPerLine() == qsizetype(m_size.width()) * 4;
    for (const QRect& rect : region) {
        const QRect r = rect & bounds;
        if (r.isEmpty())
            continue;
        if (m_transport == Transport::Plain) {
            putPlain(image, r);
            continue;
        }
        if (!inSegment) {
            // Someone else's picture: bring the rectangle into the segment first.
            auto* base = static_cast<uchar*>(m_segment->address);
            for (int y = r.top(); y <= r.bottom(); ++y)
                std::memcpy(base + (std::size_t(y) * m_size.width() + r.left()) * 4u,
                            image.constScanLine(y) + std::size_t(r.left()) * 4u, std::size_t(r.width()) * 4u);
        }
        putShared(r);
    }
    xcb_flush(xcb(m_connection));
}

void ShmPresenter::putShared(const QRect& r)
{
#ifdef HAKOP_HAVE_XCB_SHM
    // No completion event: nothing wakes us, and the pixels read are always
    // the picture's current ones, which a later request shows again anyway.
    xcb_shm_put_image(xcb(m_connection), m_window, m_gc, std::uint16_t(m_size.width()),
                      std::uint16_t(m_size.height()), std::uint16_t(r.x()), std::uint16_t(r.y()),
                      std::uint16_t(r.width()), std::uint16_t(r.height()), std::int16_t(r.x()), std::int16_t(r.y()),
                      m_depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, m_shmSeg, 0);
    ++m_lastRequests;
#else
    (void)r;
#endif
}

void ShmPresenter::putPlain(const QImage& image, const QRect& r)
{
    // Rows are packed tightly and sent in bands that fit one request.
    const std::uint32_t rowBytes = std::uint32_t(r.width()) * 4u;
    const std::uint32_t room = m_maxRequestBytes > putImageHeader ? m_maxRequestBytes - putImageHeader : 0;
    const int bandRows = std::max(1, int(std::min<std::uint32_t>(room / rowBytes, std::uint32_t(r.height()))));
    for (int top = r.top(); top <= r.bottom(); top += bandRows) {
        const int rows = std::min(bandRows, r.bottom() + 1 - top);
        m_rows.resize(std::size_t(rows) * std::size_t(r.width()));
        for (int i = 0; i < rows; ++i)
            std::memcpy(m_rows.data() + std::size_t(i) * std::size_t(r.width()),
                        image.constScanLine(top + i) + std::size_t(r.left()) * 4u, rowBytes);
        xcb_put_image(xcb(m_connection), XCB_IMAGE_FORMAT_Z_PIXMAP, m_window, m_gc, std::uint16_t(r.width()),
                      std::uint16_t(rows), std::int16_t(r.x()), std::int16_t(top), 0, m_depth,
                      std::uint32_t(m_rows.size() * 4u), reinterpret_cast<const std::uint8_t*>(m_rows.data()));
        ++m_lastRequests;
    }
}

} // namespace hakop::platform
