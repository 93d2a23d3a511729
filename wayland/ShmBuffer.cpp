#include "ShmBuffer.h"

#include "Protocols.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

namespace hakop::platform::wayland {

namespace {

// An anonymous memory file: nothing on disk, gone when the last mapping and
// descriptor (ours and the compositor's) are.
int memoryFile(std::size_t bytes)
{
    const int fd = ::memfd_create("hakop-shm", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return -1;
    int result = 0;
    do
        result = ::ftruncate(fd, static_cast<off_t>(bytes));
    while (result < 0 && errno == EINTR);
    if (result < 0) {
        ::close(fd);
        return -1;
    }
    // The compositor maps it too: it must not be able to shrink under it.
    (void)::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_SEAL);
    return fd;
}

} // namespace

void ShmBuffer::released(void* data, wl_buffer*)
{
    static_cast<ShmBuffer*>(data)->m_busy = false;
}

std::unique_ptr<ShmBuffer> ShmBuffer::create(wl_shm* shm, QSize size, int stride, std::uint32_t format)
{
    return create(shm, size, stride, format, 0);
}

std::unique_ptr<ShmBuffer> ShmBuffer::create(wl_shm* shm, QSize size, int stride, std::uint32_t format, int mapFlags)
{
    if (shm == nullptr || size.isEmpty() || stride < size.width() * 4)
        return nullptr;
    const std::size_t bytes = std::size_t(stride) * std::size_t(size.height());
    const int fd = memoryFile(bytes);
    if (fd < 0)
        return nullptr;
    void* mapped = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | mapFlags, fd, 0);
    if (mapped == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(bytes));
    ::close(fd);
    std::unique_ptr<ShmBuffer> result(new ShmBuffer);
    result->m_data = static_cast<unsigned char*>(mapped);
    result->m_bytes = bytes;
    result->m_size = size;
    result->m_stride = stride;
    result->m_format = format;
    result->m_buffer = wl_shm_pool_create_buffer(pool, 0, size.width(), size.height(), stride, format);
    // The buffer keeps the memory; the pool is only how it was made.
    wl_shm_pool_destroy(pool);
    static const wl_buffer_listener listener = {.release = &ShmBuffer::released};
    wl_buffer_add_listener(result->m_buffer, &listener, result.get());
    return result;
}

std::unique_ptr<ShmBuffer> ShmBuffer::create(wl_shm* shm, QSize size)
{
    return create(shm, size, size.width() * 4, WL_SHM_FORMAT_XRGB8888, MAP_POPULATE);
}

ShmBuffer::~ShmBuffer()
{
    if (m_buffer != nullptr)
        wl_buffer_destroy(m_buffer);
    if (m_data != nullptr)
        ::munmap(m_data, m_bytes);
}

QImage ShmBuffer::image() const
{
    QImage::Format format = QImage::Format_Invalid;
    switch (m_format) {
    case WL_SHM_FORMAT_XRGB8888: format = QImage::Format_RGB32; break;
    case WL_SHM_FORMAT_ARGB8888: format = QImage::Format_ARGB32_Premultiplied; break;
    case WL_SHM_FORMAT_XBGR8888: format = QImage::Format_RGBX8888; break;
    case WL_SHM_FORMAT_ABGR8888: format = QImage::Format_RGBA8888_Premultiplied; break;
    default: return QImage();
    }
    return QImage(m_data, m_size.width(), m_size.height(), m_stride, format);
}

} // namespace hakop::platform::wayland
