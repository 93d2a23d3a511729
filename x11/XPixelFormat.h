#pragma once
// How a window's pixels are laid out on the X server, and the conversions of
// one colour channel between 8 bits and the server's channel masks.
#include <cstdint>

namespace hakop::platform {

struct XPixelFormat {
    int bitsPerPixel = 32;
    int scanlinePad = 32; // bits
    bool msbFirst = false;
    std::uint32_t red = 0xff0000u, green = 0xff00u, blue = 0xffu;

    // The window's layout, when its visual is TrueColor (or DirectColor, whose
    // default colormap we take to be the identity) with whole-byte pixels of
    // 16, 24 or 32 bits. connection is an xcb_connection_t*.
    static bool ofWindow(void* connection, std::uint32_t window, std::uint8_t& depth, XPixelFormat& format);

    // 0x??RRGGBB words in our own byte order: an RGB32 QImage's very layout.
    bool isXrgbWords() const;
    // One row of 'width' pixels, padded as the server pads it.
    std::uint32_t rowBytes(int width) const;

    // An 8-bit channel value placed in 'mask', keeping its top bits (or
    // repeating them, for channels wider than 8 bits).
    static std::uint32_t toChannel(std::uint32_t v, std::uint32_t mask);
    // A channel read back, scaled to 8 bits whatever its width.
    static std::uint32_t fromChannel(std::uint32_t pixel, std::uint32_t mask);
};

} // namespace hakop::platform
