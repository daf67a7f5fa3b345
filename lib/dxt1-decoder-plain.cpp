// The plain decoder: one block at a time, one pixel at a time. Every faster
// variant is tested against it.
#include "dxt1-variants.h"

#include <cstdint>
#include <cstring>

namespace {

// One palette colour; alpha is written by the RGBA decoder alone.
struct Colour {
    unsigned char r, g, b, a;
};

inline unsigned readLe16(const unsigned char *p)
{
    return unsigned(p[0]) | unsigned(p[1]) << 8;
}

inline std::uint32_t readLe32(const unsigned char *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

constexpr unsigned char kOpaque = 255, kTransparent = 0;

inline Colour colour(unsigned r, unsigned g, unsigned b, unsigned char a = kOpaque)
{
    return Colour{static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                  static_cast<unsigned char>(b), a};
}

// Endpoints widen by plain left shifts (white is 248, 252, 248); the mode
// follows the unsigned comparison of the raw 16-bit endpoints.
void makePalette(unsigned c0, unsigned c1, Colour palette[4])
{
    const unsigned r0 = (c0 >> 11) << 3, g0 = ((c0 >> 5) & 0x3Fu) << 2, b0 = (c0 & 0x1Fu) << 3;
    const unsigned r1 = (c1 >> 11) << 3, g1 = ((c1 >> 5) & 0x3Fu) << 2, b1 = (c1 & 0x1Fu) << 3;
    palette[0] = colour(r0, g0, b0);
    palette[1] = colour(r1, g1, b1);
    if (c0 > c1) {
        // Four-colour mode: colours at 1/3 and 2/3 of the way, division truncating.
        palette[2] = colour((2 * r0 + r1) / 3, (2 * g0 + g1) / 3, (2 * b0 + b1) / 3);
        palette[3] = colour((r0 + 2 * r1) / 3, (g0 + 2 * g1) / 3, (b0 + 2 * b1) / 3);
    } else {
        // Three-colour mode: the truncated mid-point, and for index 3 black,
        // transparent where there is alpha.
        palette[2] = colour((r0 + r1) >> 1, (g0 + g1) >> 1, (b0 + b1) >> 1);
        palette[3] = colour(0, 0, 0, kTransparent);
    }
}

// PixelBytes: 3 writes red, green and blue, 4 alpha after them.
template <unsigned PixelBytes>
void decodeBlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    const std::size_t blocks = len / 8;
    for (std::size_t b = 0; b < blocks; ++b) {
        const unsigned char *block = data + 8 * b;
        const std::size_t emit = 4 * PixelBytes * b;
        Colour palette[4];
        makePalette(readLe16(block), readLe16(block + 2), palette);
        std::uint32_t bits = readLe32(block + 4);
        for (unsigned yo = 0; yo < 4; ++yo) {
            unsigned char *out = outdata[yo] + emit;
            for (unsigned xo = 0; xo < 4; ++xo) {
                const Colour &c = palette[bits & 3u];
                bits >>= 2;
                if (PixelBytes == kRgbaBytes) {
                    // The colour is the pixel: one copy, which compilers keep a single store.
                    static_assert(sizeof(Colour) == kRgbaBytes, "a Colour is an RGBA pixel");
                    std::memcpy(out + PixelBytes * xo, &c, kRgbaBytes);
                } else {
                    out[PixelBytes * xo] = c.r;
                    out[PixelBytes * xo + 1] = c.g;
                    out[PixelBytes * xo + 2] = c.b;
                }
            }
        }
    }
}

} // namespace

void decodeDXT1BlocksPlain(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    decodeBlocks<kRgbBytes>(data, len, outdata);
}

void decodeDXT1ABlocksPlain(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    decodeBlocks<kRgbaBytes>(data, len, outdata);
}
