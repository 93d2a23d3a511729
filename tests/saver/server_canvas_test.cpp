// The surface kept by the X server, on a private X server over a connection
// of its own. A surface in memory is the reference: driven through the same
// drawings, the server's pixels must come out the same, bit for bit once
// the reference has been through the screen's pixel layout (a 16-bit
// screen keeps fewer bits of each channel).
#include "engine/Sprite.h"
#include "engine/Surface.h"
#include "x11/ScreenCapture.h"
#include "x11/ServerCanvas.h"
#include "x11/XPixelFormat.h"

#include <QPainter>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <memory>
#include <random>

using hakop::KeyedFrame;
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

    // How far a channel may move on its way through the screen's pixels.
    int channelTolerance() const
    {
        for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem > 0; xcb_depth_next(&d))
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v))
                if (v.data->visual_id == screen->root_visual) {
                    int narrowest = 8;
                    for (std::uint32_t m : {v.data->red_mask, v.data->green_mask, v.data->blue_mask})
                        narrowest = std::min(narrowest, std::popcount(m));
                    return narrowest >= 8 ? 0 : (256 >> narrowest);
                }
        return 0;
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

// Empty when every channel of a and b lies within 'tolerance'; else where they differ.
std::string differences(const QImage& a, const QImage& b, int tolerance)
{
    if (a.size() != b.size())
        return "sizes differ";
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > tolerance || std::abs(qGreen(p) - qGreen(q)) > tolerance
                || std::abs(qBlue(p) - qBlue(q)) > tolerance)
                return "at " + std::to_string(x) + "," + std::to_string(y);
        }
    return {};
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

// 'image' as it comes back from pixels of 'format'.
QImage throughFormat(const QImage& image, const hakop::x11::XPixelFormat& format)
{
    QImage out = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            row[x] = format.rgb(format.pixel(row[x]));
    }
    return out;
}

TEST_F(Canvas, DrawsWhatASurfaceInMemoryDraws)
{
    const QSize size(301, 203);
    const std::uint32_t w = makeWindow(size);
    std::uint8_t depth = 0;
    hakop::x11::XPixelFormat format;
    ASSERT_TRUE(hakop::x11::XPixelFormat::ofWindow(c, w, depth, format));
    auto canvas = ServerCanvas::create(c, w, size);
    ASSERT_NE(canvas, nullptr);
    ServerCanvas* server = canvas.get();
    Surface onServer(std::move(canvas));
    Surface inMemory(size);
    ASSERT_EQ(onServer.size(), size);
    EXPECT_EQ(differences(onServer.pixels(), inMemory.pixels(), 0), "") << "both start black";

    const QImage backdrop = pattern(size, 7);
    onServer.drawDirect(backdrop);
    inMemory.drawDirect(backdrop);
    // A picture drawn directly past the corner, from an indexed picture.
    const QImage corner = pattern(QSize(50, 40), 3).convertToFormat(QImage::Format_Indexed8);
    onServer.drawDirect(corner, QPoint(280, 180));
    inMemory.drawDirect(corner, QPoint(280, 180));

    std::mt19937 rng(20261208); // NOLINT(cert-msc51-cpp): the same pictures every run
    std::vector<KeyedFrame> pictures;
    pictures.reserve(6);
    for (int i = 0; i < 6; ++i)
        pictures.emplace_back(figure(QSize(17 + 13 * i, 11 + 9 * i), rng,
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
            ASSERT_EQ(differences(onServer.pixels(), throughFormat(inMemory.pixels(), format), 0), "") << "after step " << step;
            // What is presented reaches the window, however the copies are cut.
            onServer.canvas().present(onServer.takeDrawn());
            if (rootIsXrgb()) {
                ASSERT_EQ(readBack(w, onServer.rect()), onServer.pixels()) << "the window after step " << step;
            }
        }
    }
    onServer.paintPass();
    inMemory.paintPass();
    EXPECT_EQ(differences(onServer.pixels(), throughFormat(inMemory.pixels(), format), 0), "");
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

// A backdrop drawn in bands serves as one given whole: each redraw brings it back.
TEST_F(Canvas, PixelsKeptAsTheBackdropComeBackOnEveryRedraw)
{
    const QSize size(90, 70);
    auto canvas = ServerCanvas::create(c, makeWindow(size), size);
    ASSERT_NE(canvas, nullptr);
    for (int top = 0; top < size.height(); top += 16)
        canvas->drawImage(pattern(QSize(size.width(), 16), top), QPoint(0, top));
    canvas->keepPixelsAsBackdrop();
    const QImage kept = canvas->read();
    canvas->drawImage(pattern(QSize(30, 30), 1), QPoint(10, 5));
    canvas->drawBackdrop();
    EXPECT_EQ(canvas->read(), kept);
    EXPECT_EQ(canvas->backdrop(), kept);
}

// The snapshot is kept as drawing reaches it: drawings anywhere (across the
// squares it is kept in and the canvas's edges), with redraws between them,
// always bring back exactly the snapshot.
TEST_F(Canvas, TheSnapshotComesBackExactlyWhereverDrawingReachedIt)
{
    const QSize size(300, 170); // no multiple of the squares
    auto canvas = ServerCanvas::create(c, makeWindow(size), size);
    ASSERT_NE(canvas, nullptr);
    canvas->setBackdrop(pattern(size, 21));
    const QImage kept = canvas->read();
    const KeyedFrame frame(pattern(QSize(48, 48), 3));
    const QRect all(QPoint(0, 0), size);
    const QPoint places[] = {{-20, -20}, {40, 40}, {60, 0}, {250, 130}, {127, 63}, {200, 150}, {0, 100}, {280, 5}};
    for (std::size_t round = 0; round < 3; ++round) {
        for (std::size_t i = round; i < std::size(places); i += 2)
            canvas->drawFrame(frame, places[i], i % 3 == 0, QRegion(all), QRect(places[i], frame.size()));
        canvas->drawImage(pattern(QSize(70, 20), int(round)), QPoint(100 + int(round) * 30, 60));
        EXPECT_NE(canvas->read(), kept);
        EXPECT_EQ(canvas->backdrop(), kept) << "round " << round;
        canvas->drawBackdrop();
        EXPECT_EQ(canvas->read(), kept) << "round " << round;
    }
}

// The snapshot never passes through our memory: the server copies the root's
// rectangle, windows on it included, and restores it on every drawBackdrop.
TEST_F(Canvas, TheSnapshotIsTheRootsRectangleCopiedByTheServer)
{
    const int tolerance = channelTolerance();
    // A window showing a pattern, on the root.
    const QSize shownSize(120, 90);
    const std::uint32_t shownWindow = makeWindow(shownSize);
    auto shown = ServerCanvas::create(c, shownWindow, shownSize);
    ASSERT_NE(shown, nullptr) << "root depth " << int(screen->root_depth);
    const QImage picture = pattern(shownSize, 13);
    shown->drawImage(picture, QPoint(0, 0));
    shown->show(QRegion(0, 0, shownSize.width(), shownSize.height()));
    shown->flush();

    // A rectangle over the pattern's corner and past the root's left edge.
    const QRect area(-20, 30, 100, 80);
    const std::uint32_t other = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, other, screen->root, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, 0, nullptr);
    const std::uint32_t snapshot = hakop::x11::copyRootToPixmap(c, other, area);
    ASSERT_NE(snapshot, 0u);
    // What the screen shows later does not change the snapshot.
    shown->drawImage(pattern(shownSize, 99), QPoint(0, 0));
    shown->show(QRegion(0, 0, shownSize.width(), shownSize.height()));

    auto canvas = ServerCanvas::create(c, other, area.size(), snapshot);
    ASSERT_NE(canvas, nullptr);
    const QImage initial = canvas->read();
    canvas->drawBackdrop();
    EXPECT_EQ(canvas->read(), initial) << "the pixels start as the snapshot";
    canvas->drawImage(pattern(area.size(), 1), QPoint(0, 0));
    canvas->drawBackdrop();
    QImage expected(area.size(), QImage::Format_RGB32);
    expected.fill(qRgb(0, 0, 0)); // beyond the root's left edge
    for (int y = 0; y < area.height(); ++y)
        for (int x = 0; x < area.width(); ++x) {
            const QPoint onRoot = area.topLeft() + QPoint(x, y);
            if (QRect(QPoint(0, 0), shownSize).contains(onRoot))
                expected.setPixel(x, y, picture.pixel(onRoot));
        }
    // Compared where the pattern window covers the root, and beyond its edge.
    const QImage restored = canvas->read();
    EXPECT_EQ(differences(restored.copy(0, 0, area.width(), shownSize.height() - area.y()),
                          expected.copy(0, 0, area.width(), shownSize.height() - area.y()), tolerance),
              "");
    EXPECT_EQ(differences(canvas->backdrop(), restored, 0), "");

    // A frame drawn over it is wiped by the next redraw too.
    canvas->drawFrame(KeyedFrame(pattern(QSize(30, 30), 4)), QPoint(5, 5), false, QRegion(0, 0, 100, 80),
                      QRect(0, 0, 100, 80));
    canvas->drawBackdrop();
    EXPECT_EQ(canvas->read(), restored);

    // Released, it is gone and redrawing it changes nothing.
    canvas->drawImage(pattern(area.size(), 2), QPoint(0, 0));
    const QImage before = canvas->read();
    canvas->releaseBackdrop();
    canvas->drawBackdrop();
    EXPECT_TRUE(canvas->backdrop().isNull());
    EXPECT_EQ(canvas->read(), before);
    canvas.reset();
    xcb_destroy_window(c, other);
}

// A window of another depth than the root's cannot take a copy of it.
TEST_F(Canvas, NoSnapshotForAWindowOfAnotherDepth)
{
    const std::uint32_t inputOnly = xcb_generate_id(c);
    xcb_create_window(c, 0, inputOnly, screen->root, 0, 0, 10, 10, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      screen->root_visual, 0, nullptr);
    EXPECT_EQ(hakop::x11::copyRootToPixmap(c, inputOnly, QRect(0, 0, 10, 10)), 0u);
    EXPECT_EQ(hakop::x11::copyRootToPixmap(c, 0, QRect(0, 0, 10, 10)), 0u);
    xcb_destroy_window(c, inputOnly);
}

} // namespace
