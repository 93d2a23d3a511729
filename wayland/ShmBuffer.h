#pragma once
// Pixels shared with the compositor (wl_shm): a memory file mapped here and
// handed over as one wl_buffer. While the compositor holds the buffer (from
// a commit until its release event) nothing may write to it.
#include <QImage>
#include <QSize>

#include <cstdint>
#include <memory>

struct wl_buffer;
struct wl_shm;

namespace hakop::platform::wayland {

class ShmBuffer {
public:
    // A buffer of 'size' pixels, 'stride' bytes a row, in a wl_shm 'format'.
    // Null when the memory cannot be had. Its pages come as they are first
    // touched (by the compositor, for a screen copy).
    static std::unique_ptr<ShmBuffer> create(wl_shm* shm, QSize size, int stride, std::uint32_t format);
    // 32-bit XRGB, the format every compositor takes: what QImage calls RGB32.
    // For us to write whole: its pages are had at once, not one fault at a time.
    static std::unique_ptr<ShmBuffer> create(wl_shm* shm, QSize size);
    ~ShmBuffer();
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;

    wl_buffer* buffer() const { return m_buffer; }
    QSize size() const { return m_size; }
    int stride() const { return m_stride; }
    std::uint32_t format() const { return m_format; }
    unsigned char* data() const { return m_data; }

    // The pixels as a QImage over the shared memory (no copy); null for a
    // format QImage has no name for.
    QImage image() const;

    // Set when the buffer is committed; cleared by the compositor's release.
    bool busy() const { return m_busy; }
    void setBusy() { m_busy = true; }

private:
    ShmBuffer() = default;
    static std::unique_ptr<ShmBuffer> create(wl_shm* shm, QSize size, int stride, std::uint32_t format, int mapFlags);
    static void released(void* data, wl_buffer* buffer);

    wl_buffer* m_buffer = nullptr;
    unsigned char* m_data = nullptr;
    std::size_t m_bytes = 0;
    QSize m_size;
    int m_stride = 0;
    std::uint32_t m_format = 0;
    bool m_busy = false;
};

} // namespace hakop::platform::wayland
