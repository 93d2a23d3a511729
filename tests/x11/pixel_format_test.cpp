// The one converter between our RGB32 words and the server's pixel layouts,
// the bands pictures are sent in, and which screens can show the saver at all.
#include "x11/ImageBands.h"
#include "x11/XPixelFormat.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>

#include <X11/X.h> // after gtest: its macros clash with gtest's names

using hakop::x11::XPixelFormat;

namespace {

XPixelFormat rgb565(bool msbFirst)
{
    XPixelFormat f;
    f.bitsPerPixel = 16;
    f.msbFirst = msbFirst;
    f.red = 0xf800u;
    f.green = 0x07e0u;
    f.blue = 0x001fu;
    return f;
}

XPixelFormat rgb30()
{
    XPixelFormat f;
    f.red = 0x3ff00000u;
    f.green = 0x000ffc00u;
    f.blue = 0x000003ffu;
    return f;
}

} // namespace

TEST(PixelFormat, PacksInTheServersByteOrder)
{
    const std::array<QRgb, 2> in{0xffff0000u, 0xff0000ffu};
    std::array<std::uint8_t, 4> out{};
    rgb565(false).pack(in.data(), 2, out.data());
    EXPECT_EQ(out, (std::array<std::uint8_t, 4>{0x00, 0xf8, 0x1f, 0x00}));
    rgb565(true).pack(in.data(), 2, out.data());
    EXPECT_EQ(out, (std::array<std::uint8_t, 4>{0xf8, 0x00, 0x00, 0x1f}));
}

TEST(PixelFormat, EveryLayoutReadsBackWhatItCanHold)
{
    // A channel of n bits keeps the top n bits of each 8-bit value; wider
    // channels keep all of it.
    for (const XPixelFormat& f : {rgb565(false), rgb565(true), rgb30(), XPixelFormat{}}) {
        for (std::uint32_t v = 0; v < 256; ++v) {
            const QRgb colour = qRgb(int(v), int(255 - v), int(v ^ 0x5a));
            std::array<std::uint8_t, 4> packed{};
            f.pack(&colour, 1, packed.data());
            QRgb back = 0;
            f.unpack(packed.data(), 1, &back);
            const auto kept = [](int value, std::uint32_t mask) {
                const int bits = std::popcount(mask);
                if (bits >= 8)
                    return value;
                const int top = value >> (8 - bits);
                return top * 255 / ((1 << bits) - 1);
            };
            ASSERT_EQ(back, qRgb(kept(qRed(colour), f.red), kept(qGreen(colour), f.green), kept(qBlue(colour), f.blue)))
                << std::hex << colour << " through red mask " << f.red;
        }
    }
}

TEST(ImageBands, EachBandIsWholeRowsThatFitOneRequest)
{
    using hakop::x11::rowsPerBand;
    // 24 bytes of every request are its header.
    EXPECT_EQ(rowsPerBand(1024, 100, 50), 10);
    EXPECT_EQ(rowsPerBand(1023, 100, 50), 9);
    EXPECT_EQ(rowsPerBand(1 << 20, 100, 4), 4) << "never more rows than the picture has";
    EXPECT_EQ(rowsPerBand(1024, 4000, 50), 1) << "a row too long for a request still goes, alone";
    EXPECT_EQ(rowsPerBand(16, 100, 50), 1);
}

// The saver needs a true-colour screen of 15 bits or more; anything else is
// refused, whatever its depth.
TEST(ColourScreen, OnlyTrueColourOfFifteenBitsOrMoreShowsTheSaver)
{
    struct Screen {
        const char* what;
        int visualClass;
        int depth;
        bool shows;
    };
    const Screen screens[] = {
        {"a 24-bit desktop", TrueColor, 24, true},
        {"a 16-bit panel", TrueColor, 16, true},
        {"15 bits, the fewest", TrueColor, 15, true},
        {"a 30-bit deep-colour screen", TrueColor, 30, true},
        {"DirectColor, read as true colour", DirectColor, 24, true},
        {"12 bits of true colour", TrueColor, 12, false},
        {"an 8-bit palette", PseudoColor, 8, false},
        {"a deep palette", PseudoColor, 24, false},
        {"an 8-bit grey screen", GrayScale, 8, false},
        {"a fixed 8-bit palette", StaticColor, 8, false},
        {"a monochrome screen", StaticGray, 1, false},
    };
    for (const Screen& screen : screens)
        EXPECT_EQ(hakop::x11::colourScreen(screen.visualClass, screen.depth), screen.shows) << screen.what;
}
