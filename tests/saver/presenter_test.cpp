// The presenter on a private X server, over a connection of its own: what it
// puts on a window is read back from the server, for the shared-memory and
// the plain transport alike.
#include "platform/ShmPresenter.h"

#include <QPainter>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using hakop::platform::ShmPresenter;

namespace {

class Presenter : public ::testing::TestWithParam<bool> {
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

    // A mapped black window at the top-left corner; may reach past the screen.
    std::uint32_t makeWindow(QSize size)
    {
        const std::uint32_t w = xcb_generate_id(c);
        const std::uint32_t values[] = {screen->black_pixel, 1, XCB_EVENT_MASK_EXPOSURE};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 0, 0, std::uint16_t(size.width()),
                          std::uint16_t(size.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
        xcb_map_window(c, w);
        xcb_flush(c);
        // Mapped and cleared to black once its first expose arrives.
        while (xcb_generic_event_t* e = xcb_wait_for_event(c)) {
            const bool exposed = (e->response_type & 0x7f) == XCB_EXPOSE;
            std::free(e);
            if (exposed)
                break;
        }
        return w;
    }

    std::unique_ptr<ShmPresenter> presenterFor(std::uint32_t window, QSize size)
    {
        return ShmPresenter::create(c, window, size, GetParam());
    }

    // What the server shows in r of the window, as RGB32.
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

    // A picture no two neighbouring pixels of which agree.
    static QImage pattern(QSize size, std::uint32_t salt = 0)
    {
        QImage img(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(img.scanLine(y));
            for (int x = 0; x < size.width(); ++x)
                row[x] = 0xff000000u | ((std::uint32_t(x) * 2654435761u + std::uint32_t(y) * 40503u + salt) & 0xffffffu);
        }
        return img;
    }

    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
};

bool rootIsXrgb(xcb_connection_t* c, xcb_screen_t* screen)
{
    if (screen->root_depth != 24 && screen->root_depth != 32)
        return false;
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem > 0; xcb_depth_next(&d))
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem > 0; xcb_visualtype_next(&v))
            if (v.data->visual_id == screen->root_visual)
                return v.data->red_mask == 0xff0000u && v.data->green_mask == 0xff00u && v.data->blue_mask == 0xffu;
    (void)c;
    return false;
}

TEST_P(Presenter, RefusesWindowsWhosePixelsAreNotXrgbWords)
{
    const QSize size(64, 48);
    const std::uint32_t w = makeWindow(size);
    const auto presenter = presenterFor(w, size);
    EXPECT_EQ(presenter != nullptr, rootIsXrgb(c, screen)) << "root depth " << int(screen->root_depth);
}

TEST_P(Presenter, ShowsExactlyTheRegionAskedForAndNothingElse)
{
    if (!rootIsXrgb(c, screen))
        GTEST_SKIP() << "needs a 24-bit screen";
    const QSize size(320, 200);
    const std::uint32_t w = makeWindow(size);
    const auto presenter = presenterFor(w, size);
    ASSERT_NE(presenter, nullptr);
    EXPECT_EQ(presenter->transport() == ShmPresenter::Transport::Plain, !GetParam());

    const QImage picture = pattern(size);
    // Two separate rectangles, and one reaching past the window's corner.
    QRegion region(QRect(10, 20, 30, 40));
    region += QRect(100, 5, 7, 150);
    region += QRect(300, 180, 100, 100);
    presenter->present(picture, region);
    const QRegion inside = region & QRect(QPoint(0, 0), size);
    EXPECT_EQ(presenter->lastRequestCount(), inside.rectCount()) << "one small request per rectangle";

    const QImage shown = readBack(w, QRect(QPoint(0, 0), size));
    ASSERT_EQ(shown.size(), size);
    long wrong = 0;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const QRgb expected = inside.contains(QPoint(x, y)) ? picture.pixel(x, y) : 0xff000000u;
            wrong += shown.pixel(x, y) != expected;
        }
    EXPECT_EQ(wrong, 0);

    // Nothing at all for an empty region, or for one wholly outside.
    presenter->present(picture, QRegion());
    EXPECT_EQ(presenter->lastRequestCount(), 0);
    presenter->present(picture, QRegion(QRect(400, 0, 10, 10)));
    EXPECT_EQ(presenter->lastRequestCount(), 0);
}

TEST_P(Presenter, DrawingsInTheSharedPictureReachTheScreenAndADetachedCopyStillDoes)
{
    if (!rootIsXrgb(c, screen))
        GTEST_SKIP() << "needs a 24-bit screen";
    const QSize size(200, 120);
    const std::uint32_t w = makeWindow(size);
    auto presenter = presenterFor(w, size);
    ASSERT_NE(presenter, nullptr);
    QImage shared = presenter->sharedImage();
    if (presenter->transport() == ShmPresenter::Transport::Plain) {
        EXPECT_TRUE(shared.isNull());
        return;
    }
    ASSERT_EQ(shared.size(), size);
    EXPECT_EQ(shared.pixel(5, 5), 0xff000000u) << "starts black";

    // Drawn where the server reads: every wrapper sees the same memory.
    const uchar* memory = shared.constBits();
    QPainter(&shared).fillRect(QRect(20, 10, 50, 30), QColor(200, 100, 50));
    EXPECT_EQ(shared.constBits(), memory) << "drawing must not move the picture out of shared memory";
    EXPECT_EQ(presenter->sharedImage().pixel(25, 15), qRgb(200, 100, 50));
    presenter->present(shared, QRegion(QRect(20, 10, 50, 30)));
    EXPECT_EQ(readBack(w, QRect(20, 10, 50, 30)), shared.copy(20, 10, 50, 30));

    // A second copy makes the next drawing detach into private memory; what
    // is presented from there is copied over.
    QImage held = shared;
    QPainter(&shared).fillRect(QRect(100, 50, 40, 40), QColor(10, 220, 30));
    ASSERT_NE(shared.constBits(), memory);
    presenter->present(shared, QRegion(QRect(90, 40, 60, 60)));
    EXPECT_EQ(readBack(w, QRect(90, 40, 60, 60)), shared.copy(90, 40, 60, 60));

    // The memory lives on with the pictures after the presenter is gone.
    presenter.reset();
    QPainter(&held).fillRect(held.rect(), Qt::white);
    EXPECT_EQ(held.pixel(199, 119), qRgb(255, 255, 255));
}

TEST_P(Presenter, PlainRequestsTooBigForOneAreSentInBands)
{
    if (!rootIsXrgb(c, screen))
        GTEST_SKIP() << "needs a 24-bit screen";
    if (GetParam())
        GTEST_SKIP() << "shared puts carry no pixels, so they never need splitting";
    // Bigger than one request may be (16 MiB with big requests): the window
    // reaches past the screen, and only rows on the screen can be read back.
    const std::uint64_t maxBytes = std::uint64_t(xcb_get_maximum_request_length(c)) * 4u;
    const int width = 4000;
    const int height = int(maxBytes / (width * 4u)) + 200;
    if (height > 8000)
        GTEST_SKIP() << "the server takes requests too big to test this";
    const QSize size(width, height);
    const std::uint32_t w = makeWindow(size);
    auto presenter = presenterFor(w, size);
    ASSERT_NE(presenter, nullptr);
    const QImage picture = pattern(size, 77);
    presenter->present(picture, QRegion(QRect(QPoint(0, 0), size)));
    EXPECT_GE(presenter->lastRequestCount(), 2);
    const int visibleRows = std::min<int>(height, screen->height_in_pixels);
    const QRect visible(0, 0, std::min<int>(width, screen->width_in_pixels), visibleRows);
    EXPECT_EQ(readBack(w, visible), picture.copy(visible));
}

INSTANTIATE_TEST_SUITE_P(Transports, Presenter, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Shared" : "Plain");
                         });

} // namespace
