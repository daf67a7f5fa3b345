// The plain variant's table, and its decoders of BC1 to BC5: one block at a time, one pixel at a time.
// Every faster variant is tested against them.
//
// Three kernels make every format: the colour block (BC1, and the colour of
// BC2 and BC3), the channel block (BC3's alpha, BC4, both halves of BC5) and
// BC2's 4-bit alphas. Each writes one block's pixels, or one channel of them,
// into the row planes; a format is a composition of them. The colour rule is
// a template parameter of the palette steps alone.
#include "bc6h-decoder.h"
#include "bc7-decoder.h"
#include "decoder-variants.h"
#include "palette-layout.h"

#include <cstdint>
#include <cstring>

namespace {

// One palette colour; alpha is written where the output has it.
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

inline std::uint64_t readLe48(const unsigned char *p)
{
    return std::uint64_t(readLe32(p)) | std::uint64_t(readLe16(p + 4)) << 32;
}

inline std::uint64_t readLe64(const unsigned char *p)
{
    return std::uint64_t(readLe32(p)) | std::uint64_t(readLe32(p + 4)) << 32;
}

constexpr unsigned char kOpaque = 255, kTransparent = 0;

inline Colour colour(unsigned r, unsigned g, unsigned b, unsigned char a = kOpaque)
{
    return Colour{static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                  static_cast<unsigned char>(b), a};
}

// Widening of a 5- or 6-bit endpoint field to 8 bits: the design rule shifts
// left (31 becomes 248); the gpu rule also copies the high bits into the low
// ones (31 becomes 255).
template <ColourRule Rule>
inline unsigned widen5(unsigned v)
{
    return Rule == ColourRule::gpu ? (v << 3) | (v >> 2) : v << 3;
}

template <ColourRule Rule>
inline unsigned widen6(unsigned v)
{
    return Rule == ColourRule::gpu ? (v << 2) | (v >> 4) : v << 2;
}

// The palette step's division and rounding (palette-layout.h's, which the
// vector decoders' multipliers are proven against).
template <ColourRule Rule, int Divisor>
inline int divide(int sum)
{
    return paletteDivide(Rule, Divisor, sum);
}

// The colour block's palette. The mode follows the unsigned comparison of
// the raw 16-bit endpoints, unless FourColourAlways (BC2 and BC3).
template <ColourRule Rule, bool FourColourAlways>
void colourPalette(unsigned c0, unsigned c1, Colour palette[4])
{
    const int r0 = widen5<Rule>(c0 >> 11), g0 = widen6<Rule>((c0 >> 5) & 0x3Fu), b0 = widen5<Rule>(c0 & 0x1Fu);
    const int r1 = widen5<Rule>(c1 >> 11), g1 = widen6<Rule>((c1 >> 5) & 0x3Fu), b1 = widen5<Rule>(c1 & 0x1Fu);
    palette[0] = colour(r0, g0, b0);
    palette[1] = colour(r1, g1, b1);
    if (FourColourAlways || c0 > c1) {
        // Four-colour mode: colours at 1/3 and 2/3 of the way.
        palette[2] = colour(divide<Rule, 3>(2 * r0 + r1), divide<Rule, 3>(2 * g0 + g1), divide<Rule, 3>(2 * b0 + b1));
        palette[3] = colour(divide<Rule, 3>(r0 + 2 * r1), divide<Rule, 3>(g0 + 2 * g1), divide<Rule, 3>(b0 + 2 * b1));
    } else {
        // Three-colour mode: the mid-point, and for index 3 black,
        // transparent where there is alpha.
        palette[2] = colour(divide<Rule, 2>(r0 + r1), divide<Rule, 2>(g0 + g1), divide<Rule, 2>(b0 + b1));
        palette[3] = colour(0, 0, 0, kTransparent);
    }
}

// A colour block's sixteen pixels into the planes, at byte `emit` of each.
// PixelBytes: 3 writes red, green and blue, 4 alpha after them.
template <unsigned PixelBytes, ColourRule Rule, bool FourColourAlways>
void colourBlock(const unsigned char *block, unsigned char *const outdata[4], std::size_t emit)
{
    Colour palette[4];
    colourPalette<Rule, FourColourAlways>(readLe16(block), readLe16(block + 2), palette);
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

// A signed channel value, −127 to 127, as a byte: −127, 0 and 127 become 0,
// 128 and 255.
inline unsigned char signedToByte(int v)
{
    return static_cast<unsigned char>(((v + 127) * 255 + 127) / 254);
}

// An endpoint: a byte, or a signed byte with −128 read as −127.
template <bool Signed>
inline int channelEndpoint(unsigned char byte)
{
    if (!Signed)
        return byte;
    const int v = byte < 128 ? byte : int(byte) - 256;
    return v < -127 ? -127 : v;
}

// The channel block's eight values, as bytes. Index 0 gives e0 and 1 gives
// e1. When e0 > e1, index j (2 to 7) gives ((8−j)·e0 + (j−1)·e1) / 7;
// otherwise index j (2 to 5) gives ((6−j)·e0 + (j−1)·e1) / 5, index 6 the
// least value and 7 the greatest.
template <ColourRule Rule, bool Signed>
void channelPalette(const unsigned char *block, unsigned char values[8])
{
    const int e0 = channelEndpoint<Signed>(block[0]), e1 = channelEndpoint<Signed>(block[1]);
    const int lowest = Signed ? -127 : 0, highest = Signed ? 127 : 255;
    int v[8] = {e0, e1};
    if (e0 > e1) {
        for (int j = 2; j < 8; ++j)
            v[j] = divide<Rule, 7>((8 - j) * e0 + (j - 1) * e1);
    } else {
        for (int j = 2; j < 6; ++j)
            v[j] = divide<Rule, 5>((6 - j) * e0 + (j - 1) * e1);
        v[6] = lowest;
        v[7] = highest;
    }
    for (int j = 0; j < 8; ++j)
        values[j] = Signed ? signedToByte(v[j]) : static_cast<unsigned char>(v[j]);
}

// A channel block's sixteen values into byte `channel` of each pixel.
template <unsigned PixelBytes, unsigned Channel, ColourRule Rule, bool Signed>
void channelBlock(const unsigned char *block, unsigned char *const outdata[4], std::size_t emit)
{
    unsigned char values[8];
    channelPalette<Rule, Signed>(block, values);
    std::uint64_t bits = readLe48(block + 2);
    for (unsigned yo = 0; yo < 4; ++yo)
        for (unsigned xo = 0; xo < 4; ++xo, bits >>= 3)
            outdata[yo][emit + PixelBytes * xo + Channel] = values[bits & 7u];
}

// BC2's alphas into byte 3 of each RGBA pixel: pixel k's in bits 4k to 4k + 3,
// widened as a·17.
void explicitAlphaBlock(const unsigned char *block, unsigned char *const outdata[4], std::size_t emit)
{
    constexpr unsigned kWiden4 = 17; // 15 · 17 = 255
    std::uint64_t bits = readLe64(block);
    for (unsigned yo = 0; yo < 4; ++yo)
        for (unsigned xo = 0; xo < 4; ++xo, bits >>= 4)
            outdata[yo][emit + kRgbaBytes * xo + 3] = static_cast<unsigned char>((bits & 15u) * kWiden4);
}

// Every whole block of a run, through `Block` (the block, the planes, where
// its pixels start in each plane).
template <BlockFormat Format, class Block>
inline void eachBlock(const unsigned char *data, std::size_t len, unsigned char *const outdata[4], Block block)
{
    constexpr BlockFormatInfo info = blockFormatInfo(Format);
    const std::size_t blocks = len / info.blockBytes;
    for (std::size_t b = 0; b < blocks; ++b)
        block(data + info.blockBytes * b, outdata, 4 * info.pixelBytes * b);
}

template <ColourRule Rule>
void decodeBC1(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    eachBlock<BlockFormat::bc1>(data, len, outdata, colourBlock<kRgbBytes, Rule, false>);
}

template <ColourRule Rule>
void decodeBC1A(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    eachBlock<BlockFormat::bc1a>(data, len, outdata, colourBlock<kRgbaBytes, Rule, false>);
}

template <ColourRule Rule>
void decodeBC2(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    eachBlock<BlockFormat::bc2>(data, len, outdata,
                                [](const unsigned char *block, unsigned char *const planes[4], std::size_t emit) {
                                    colourBlock<kRgbaBytes, Rule, true>(block + 8, planes, emit);
                                    explicitAlphaBlock(block, planes, emit);
                                });
}

template <ColourRule Rule>
void decodeBC3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    eachBlock<BlockFormat::bc3>(data, len, outdata,
                                [](const unsigned char *block, unsigned char *const planes[4], std::size_t emit) {
                                    colourBlock<kRgbaBytes, Rule, true>(block + 8, planes, emit);
                                    channelBlock<kRgbaBytes, 3, Rule, false>(block, planes, emit);
                                });
}

template <ColourRule Rule, bool Signed>
void decodeBC4(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    eachBlock<BlockFormat::bc4>(data, len, outdata, channelBlock<1, 0, Rule, Signed>);
}

template <ColourRule Rule, bool Signed>
void decodeBC5(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    eachBlock<BlockFormat::bc5>(data, len, outdata,
                                [](const unsigned char *block, unsigned char *const planes[4], std::size_t emit) {
                                    channelBlock<2, 0, Rule, Signed>(block, planes, emit);
                                    channelBlock<2, 1, Rule, Signed>(block + 8, planes, emit);
                                });
}

constexpr ColourRule design = ColourRule::design, gpu = ColourRule::gpu;

} // namespace

// Built by fullTable, which checks that it is complete: a new format needs
// its plain decoder here before anything else runs it.
constexpr DecoderTable plainDecoders = fullTable(
    /* bc1  */ fullRow(decodeBC1<design>, decodeBC1<gpu>),
    /* bc1a */ fullRow(decodeBC1A<design>, decodeBC1A<gpu>),
    /* bc2  */ fullRow(decodeBC2<design>, decodeBC2<gpu>),
    /* bc3  */ fullRow(decodeBC3<design>, decodeBC3<gpu>),
    /* bc4  */ fullRow(decodeBC4<design, false>, decodeBC4<gpu, false>),
    /* bc4s */ fullRow(decodeBC4<design, true>, decodeBC4<gpu, true>),
    /* bc5  */ fullRow(decodeBC5<design, false>, decodeBC5<gpu, false>),
    /* bc5s */ fullRow(decodeBC5<design, true>, decodeBC5<gpu, true>),
    /* bc7  */ fullRow(decodeBC7BlocksPlain, decodeBC7BlocksPlain),
    /* bc6h */ fullRow(decodeBC6HBlocksPlain, decodeBC6HBlocksPlain),
    /* bc6hs */ fullRow(decodeBC6HSBlocksPlain, decodeBC6HSBlocksPlain));
