#pragma once
// How a window's pixels are laid out on the X server, and the one converter
// between that layout and our RGB32 words: the server canvas, the guest's
// writer and the screen reads all go through it; and which screens can show
// the saver's colours at all.
#include "x11/XHandles.h"

#include <QRgb>

#include <cstdint>
#include <string>

namespace hakop::x11 {

struct XPixelFormat {
    int bitsPerPixel = 32;
    int scanlinePad = 32; // bits
    bool msbFirst = false;
    std::uint32_t red = 0xff0000u, green = 0xff00u, blue = 0xffu;

    // The window's layout, when its visual is TrueColor (or DirectColor, whose
    // default colormap we take to be the identity) with whole-byte pixels of
    // 16, 24 or 32 bits.
    static bool ofWindow(xcb_connection_t* connection, std::uint32_t window, std::uint8_t& depth,
                         XPixelFormat& format);

    // 0x??RRGGBB words in our own byte order: an RGB32 QImage's very layout.
    bool isXrgbWords() const;
    // One row of 'width' pixels, padded as the server pads it.
    std::uint32_t rowBytes(int width) const;

    // One pixel each way.
    std::uint32_t pixel(QRgb colour) const;
    QRgb rgb(std::uint32_t value) const;
    // A row of 'width' pixels into this layout (bitsPerPixel / 8 bytes each,
    // in the server's byte order), and back.
    void pack(const QRgb* in, int width, std::uint8_t* out) const;
    void unpack(const std::uint8_t* in, int width, QRgb* out) const;

    // An 8-bit channel value placed in 'mask', keeping its top bits (or
    // repeating them, for channels wider than 8 bits).
    static std::uint32_t toChannel(std::uint32_t v, std::uint32_t mask);
    // A channel read back, scaled to 8 bits whatever its width.
    static std::uint32_t fromChannel(std::uint32_t pixel, std::uint32_t mask);
};

// Whether a screen whose default visual is of 'visualClass' (X's TrueColor,
// PseudoColor, ... constants) with 'depth' bits can show the saver's colours:
// only true-colour visuals of 15 bits or more can.
bool colourScreen(int visualClass, int depth);
// The same question for the default screen of an Xlib Display*; 'why' gets a
// sentence describing an unusable screen.
bool defaultScreenShowsColour(Display* display, std::string* why);

} // namespace hakop::x11
