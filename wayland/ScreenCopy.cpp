#include "ScreenCopy.h"

#include "Connection.h"
#include "Protocols.h"
#include "ShmBuffer.h"

#include <QTransform>

namespace hakop::platform::wayland {

namespace {

struct Frame {
    Connection* connection = nullptr;
    Capture* capture = nullptr;
    zwlr_screencopy_frame_v1* frame = nullptr;
    std::uint32_t format = 0;
    QSize size;
    int stride = 0;
    bool described = false; // the buffer event came
    bool asked = false; // copy sent
    bool finished = false;
};

void copyInto(Frame& f)
{
    if (f.asked || !f.described)
        return;
    f.asked = true;
    f.capture->buffer = ShmBuffer::create(f.connection->shm(), f.size, f.stride, f.format);
    if (!f.capture->buffer) {
        f.finished = true;
        return;
    }
    zwlr_screencopy_frame_v1_copy(f.frame, f.capture->buffer->buffer());
}

void buffer(void* data, zwlr_screencopy_frame_v1* frame, std::uint32_t format, std::uint32_t width,
            std::uint32_t height, std::uint32_t stride)
{
    auto& f = *static_cast<Frame*>(data);
    f.format = format;
    f.size = QSize(int(width), int(height));
    f.stride = int(stride);
    f.described = true;
    // Before version 3 no "that was all" follows: copy at once.
    if (zwlr_screencopy_frame_v1_get_version(frame) < 3)
        copyInto(f);
}

void flags(void* data, zwlr_screencopy_frame_v1*, std::uint32_t value)
{
    static_cast<Frame*>(data)->capture->yInverted = (value & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
}

void ready(void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t)
{
    static_cast<Frame*>(data)->finished = true;
}

void failed(void* data, zwlr_screencopy_frame_v1*)
{
    auto& f = *static_cast<Frame*>(data);
    f.capture->buffer.reset();
    f.finished = true;
}

void damage(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void dmabuf(void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {}

void bufferDone(void* data, zwlr_screencopy_frame_v1*)
{
    auto& f = *static_cast<Frame*>(data);
    if (!f.described) {
        // Only a dma-buf offered: nothing we can read.
        f.finished = true;
        return;
    }
    copyInto(f);
}

const zwlr_screencopy_frame_v1_listener frameListener = {
    .buffer = &buffer,
    .flags = &flags,
    .ready = &ready,
    .failed = &failed,
    .damage = &damage,
    .linux_dmabuf = &dmabuf,
    .buffer_done = &bufferDone,
};

} // namespace

std::vector<Capture> captureOutputs(Connection& connection, const std::vector<Output*>& outputs)
{
    std::vector<Capture> captures(outputs.size());
    if (connection.screencopy() == nullptr)
        return captures;
    std::vector<Frame> frames(outputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        frames[i].connection = &connection;
        frames[i].capture = &captures[i];
        // 0: the cursor is not part of the picture.
        captures[i].transform = outputs[i]->transform;
        frames[i].frame = zwlr_screencopy_manager_v1_capture_output(connection.screencopy(), 0, outputs[i]->output);
        zwlr_screencopy_frame_v1_add_listener(frames[i].frame, &frameListener, &frames[i]);
    }
    auto allFinished = [&] {
        for (const Frame& f : frames)
            if (!f.finished)
                return false;
        return true;
    };
    while (!allFinished()) {
        if (!connection.roundtrip()) {
            for (Capture& capture : captures)
                capture.buffer.reset();
            break;
        }
    }
    for (Frame& f : frames)
        zwlr_screencopy_frame_v1_destroy(f.frame);
    return captures;
}

QImage captureImage(const Capture& capture, QSize size)
{
    if (!capture.buffer)
        return QImage();
    const QImage shared = capture.buffer->image();
    if (shared.isNull())
        return QImage();
    // copy(): the shared pixels go back to the compositor's use with the buffer.
    QImage upright = shared.copy().convertToFormat(QImage::Format_RGB32);
    if (capture.yInverted)
        upright = upright.mirrored(false, true);
    // The panel shows the picture turned counterclockwise by the transform's
    // quarter turns, after a flip about the vertical axis: undone in reverse.
    if (const int quarters = capture.transform & 3; quarters != 0)
        upright = upright.transformed(QTransform().rotate(90.0 * quarters));
    if ((capture.transform & 4) != 0)
        upright = upright.mirrored(true, false);
    if (size.isValid() && !size.isEmpty() && upright.size() != size)
        upright = upright.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return upright;
}

bool captureIsUpright(const Capture& capture, QSize size)
{
    return capture.buffer && !capture.yInverted && capture.transform == WL_OUTPUT_TRANSFORM_NORMAL
           && capture.buffer->size() == size;
}

bool captureIsUprightRgb32(const Capture& capture, QSize size)
{
    return captureIsUpright(capture, size) && capture.buffer->format() == WL_SHM_FORMAT_XRGB8888;
}

} // namespace hakop::platform::wayland
