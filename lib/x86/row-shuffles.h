// The row shuffles of the SSSE3 and AVX2 colour kernels: a byte shuffle per
// index byte that gathers a row's pixels from a packed palette
// (lanePalettes, lane-palettes.h).
#ifndef X86_ROW_SHUFFLES_H
#define X86_ROW_SHUFFLES_H

#include "decoder-variants.h"

// lanePalettes holds one block per 128-bit lane. While the palette is
// computed, 16-bit lanes 0-5 hold r0 g0 b0 r1 g1 b1; packed to
// bytes, colour 0 is at bytes 0-2, colour 1 at 3-5, colour 2 at 8-10 and
// colour 3 at 11-13. For RGBA, byte 6 holds the alpha of colours 0 to 2 (255)
// and byte 14 that of colour 3 (255, or 0 in the three-colour mode).
constexpr unsigned char kPackedColourOffset[4] = {0, 3, 8, 11};
constexpr unsigned char kPackedAlphaOffset[4] = {6, 6, 6, 14};

// Entry i turns a row's index byte i into the byte shuffle that gathers that
// row's four pixels from a packed palette: into bytes 0-11 (RGB; bytes 12-15
// zero) or 0-15 (RGBA).
struct RowShuffles {
    alignas(16) unsigned char pattern[256][16];
};

template <unsigned PixelBytes>
constexpr RowShuffles makeRowShuffles()
{
    RowShuffles table{};
    for (unsigned i = 0; i < 256; ++i) {
        for (unsigned j = 4 * PixelBytes; j < 16; ++j)
            table.pattern[i][j] = 0x80;
        for (unsigned xo = 0; xo < 4; ++xo) {
            const unsigned index = (i >> (2 * xo)) & 3u;
            for (unsigned c = 0; c < 3; ++c)
                table.pattern[i][PixelBytes * xo + c] = static_cast<unsigned char>(kPackedColourOffset[index] + c);
            if (PixelBytes == kRgbaBytes)
                table.pattern[i][PixelBytes * xo + 3] = kPackedAlphaOffset[index];
        }
    }
    return table;
}

// The tables, built at compile time; one copy of each serves every x86 vector decoder.
extern const RowShuffles rgbRowShuffles, rgbaRowShuffles;

template <unsigned PixelBytes>
inline const RowShuffles &rowShufflesFor()
{
    return PixelBytes == kRgbaBytes ? rgbaRowShuffles : rgbRowShuffles;
}

#endif
