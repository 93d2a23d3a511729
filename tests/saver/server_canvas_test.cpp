// The surface kept by the X server, on a private X server over a connection
// of its own. A surface in memory is the reference: driven through the same
// drawings, the server's pixels must come out the same, bit for bit.
#include "Sprite.h"
#include "Surface.h"
#include "saver/ServerCanvas.h"

#include <QPainter>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>

using hakop::Sprite;
using hakop::Surface;
using hakop::ServerCanvas;

namespace {

class Canvas : public ::testing::Test {
protected:
    void SetUp() override
    {
        c = xcb_connect(nullptr, nullptr);
        ASSERT_EQ(xcb_connection_has_error(c), 0);
        screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    }
    void TearDown() override
    {
        if (c != nullptr)
            xcb_disconnect(c);
    }

    // A mapped white window at the top-left corner; may reach past the screen.
    std::uint32_t makeWindow(QSize size)
    {
        const std::uint32_t w = xcb_generate_id(c);
        const std::uint32_t values[] = {screen->white_pixel, 1, XCB_EVENT_MASK_EXPOSURE};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, std::uint16_t(size.width()),
                          std::uint16_t(size.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c, w);
        xcb_flush(c);
        waitForExpose();
        return w;
    }
    void waitForExpose()
    {
        while (xcb_generic_event_t* e = xcb_wait_for_event(c)) {
            const bool exposed = (e->response_type & 0x7f) == XCB_EXPOSE;
            std::free(e);
            if (exposed)
                break;
        }
    }

    // What the window shows in r, as RGB32.
    QImage readBack(std::uint32_t window, const QRect& r)
    {
        xcb_get_image_reply_t* reply = xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, std::int16_t(r.x()), std::int16_t(r.y()),
                          std::uint16_t(r.width()), std::uint16_t(r.height()), ~0u),
            nullptr);
        if (reply == nullptr)
            return {};
        QImage out(r.size(), QImage::Format_RGB32);
        const auto* words = reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(reply));
        for (int y = 0; y < r.height(); ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(out.scanLine(y));
            for (int x = 0; x < r.width(); ++x)
                row[x] = 0xff000000u | (words[y * r.width() + x] & 0xffffffu);
        }
        std::free(reply);
        return out;
    }

    bool rootIsXrgb() const
    {
        if (screen->root_depth != 24 && screen->root_depth != 32)
            return false;
        for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem > 0; xcb_depth_next(&d))
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v))
                if (v.data->visual_id == screen->root_visual)
                    return v.data->red_mask == 0xff0000u && v.data->green_mask == 0xff00u
                        && v.data->blue_mask == 0xffu;
        return false;
    }

    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
};

// A picture no two neighbouring pixels of which agree.
QImage pattern(QSize size, std::uint32_t salt = 0)
{
    QImage img(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(img.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = 0xff000000u | ((std::uint32_t(x) * 2654435761u + std::uint32_t(y) * 40503u + salt) & 0xffffffu);
    }
    return img;
}

// A figure-like picture: blobs of colour on a key colour that is also its
// bottom-left pixel, with key pixels inside the blobs and at odd columns, so
// every bit position of the mask is tried.
QImage figure(QSize size, std::mt19937& rng, QImage::Format format)
{
    QImage img = pattern(size, rng());
    const QRgb key = qRgb(255, 255, 0);
    std::bernoulli_distribution keyed(0.4);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            if (keyed(rng))
                img.setPixel(x, y, key);
    img.setPixel(0, size.height() - 1, key);
    return img.convertToFormat(format);
}

TEST_F(Canvas, RefusesWindowsWhosePixelsAreNotXrgbWords)
{
    const QSize size(64, 48);
    const std::uint32_t w = makeWindow(size);
    EXPECT_EQ(ServerCanvas::create(c, w, size) != nullptr, rootIsXrgb()) << "root depth " << int(screen->root_depth);
}

TEST_F(Canvas, DrawsWhatASurfaceInMemoryDraws)
{
    if (!rootIsXrgb())
        GTEST_SKIP() << "needs a 24-bit screen";
    const QSize size(301, 203);
    const std::uint32_t w = makeWindow(size);
    auto canvas = ServerCanvas::create(c, w, size);
    ASSERT_NE(canvas, nullptr);
    ServerCanvas* server = canvas.get();
    Surface onServer(std::move(canvas));
    Surface inMemory(size);
    ASSERT_EQ(onServer.size(), size);
    EXPECT_EQ(onServer.pixels(), inMemory.pixels()) << "both start black";

    const QImage backdrop = pattern(size, 7);
    onServer.drawDirect(backdrop);
    inMemory.drawDirect(backdrop);
    // A picture drawn directly past the corner, from an indexed picture.
    const QImage corner = pattern(QSize(50, 40), 3).convertToFormat(QImage::Format_Indexed8);
    onServer.drawDirect(corner, QPoint(280, 180));
    inMemory.drawDirect(corner, QPoint(280, 180));

    std::mt19937 rng(20261208);
    std::vector<QImage> pictures;
    for (int i = 0; i < 6; ++i)
        pictures.push_back(figure(QSize(17 + 13 * i, 11 + 9 * i), rng,
                                  i % 2 ? QImage::Format_RGB32 : QImage::Format_ARGB32));
    std::vector<std::unique_ptr<Sprite>> a, b;
    for (int i = 0; i < 5; ++i) {
        a.push_back(std::make_unique<Sprite>(onServer));
        b.push_back(std::make_unique<Sprite>(inMemory));
    }
    std::uniform_int_distribution<int> which(0, 4), pic(0, 5), x(-60, 320), y(-60, 220), op(0, 5);
    for (int step = 0; step < 400; ++step) {
        const int i = which(rng);
        switch (op(rng)) {
        case 0: {
            const int p = pic(rng);
            a[i]->setPicture(pictures[p]);
            b[i]->setPicture(pictures[p]);
            a[i]->setWidth(pictures[p].width());
            b[i]->setWidth(pictures[p].width());
            a[i]->setHeight(pictures[p].height() - i); // a sprite smaller than its picture
            b[i]->setHeight(pictures[p].height() - i);
            break;
        }
        case 1: {
            const int v = x(rng);
            a[i]->setLeft(v);
            b[i]->setLeft(v);
            break;
        }
        case 2: {
            const int v = y(rng);
            a[i]->setTop(v);
            b[i]->setTop(v);
            break;
        }
        case 3:
            a[i]->setTransparent(!a[i]->Transparent());
            b[i]->setTransparent(a[i]->Transparent());
            a[i]->attach();
            b[i]->attach();
            break;
        case 4: {
            const QRect r(x(rng), y(rng), 80, 60);
            onServer.MarkPending(r);
            inMemory.MarkPending(r);
            break;
        }
        default:
            EXPECT_EQ(onServer.paintPass(), inMemory.paintPass());
            break;
        }
        if (step % 50 == 49) {
            ASSERT_EQ(onServer.pixels(), inMemory.pixels()) << "after step " << step;
        }
    }
    onServer.paintPass();
    inMemory.paintPass();
    EXPECT_EQ(onServer.pixels(), inMemory.pixels());
    // Each picture went to the server once, however often it was drawn.
    EXPECT_LE(server->uploadedPictures(), pictures.size());
    a.clear();
    b.clear();
}

TEST_F(Canvas, ShowsExactlyTheRegionAskedForAndRestoresExposedParts)
{
    if (!rootIsXrgb())
        GTEST_SKIP() << "needs a 24-bit screen";
    const QSize size(200, 150);
    const std::uint32_t w = makeWindow(size);
    auto canvas = ServerCanvas::create(c, w, size);
    ASSERT_NE(canvas, nullptr);
    const QImage picture = pattern(size, 11);
    canvas->drawImage(picture, QPoint(0, 0));
    xcb_flush(c);
    const QImage white = readBack(w, QRect(QPoint(0, 0), size));
    EXPECT_EQ(white.pixel(100, 75), qRgb(255, 255, 255)) << "drawing alone shows nothing";

    QRegion region(10, 10, 30, 20);
    region += QRect(150, 100, 80, 80); // reaches past the corner
    canvas->show(region);
    canvas->flush();
    const QImage shown = readBack(w, QRect(QPoint(0, 0), size));
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            ASSERT_EQ(shown.pixel(x, y), region.contains(QPoint(x, y)) ? picture.pixel(x, y) : qRgb(255, 255, 255))
                << x << "," << y;

    // The window's background is the canvas: what the server exposes shows it.
    xcb_clear_area(c, 0, w, 0, 0, 0, 0);
    EXPECT_EQ(readBack(w, QRect(QPoint(0, 0), size)), picture);
}

TEST_F(Canvas, PicturesTooBigForOneRequestGoAndComeBackInBands)
{
    if (!rootIsXrgb())
        GTEST_SKIP() << "needs a 24-bit screen";
    // More than the 16 MiB a request may carry with big requests.
    const QSize size(2100, 2100);
    if (std::uint64_t(xcb_get_maximum_request_length(c)) * 4u >= std::uint64_t(size.width()) * size.height() * 4u)
        GTEST_SKIP() << "the server takes requests too big to test this";
    const std::uint32_t w = makeWindow(QSize(64, 64));
    auto canvas = ServerCanvas::create(c, w, size);
    ASSERT_NE(canvas, nullptr);
    const QImage picture = pattern(size, 5);
    canvas->drawImage(picture, QPoint(0, 0));
    EXPECT_EQ(canvas->read(), picture);
}

} // namespace
