// SSSE3 decoder: one block at a time. The palette is built in 16-bit lanes
// of one register, and each row is one byte shuffle of it and one store.
#include "dxt1-variants.h"

#ifdef DXT1_HAVE_X86_VARIANTS

#include <immintrin.h>

#include <cstring>

#include "dxt1-row-shuffles.h"

#define DXT1_TARGET __attribute__((target("ssse3")))

namespace {

// The palette of the 8-byte block in the low half of `block`, laid out as
// the row shuffles expect.
DXT1_TARGET inline __m128i blockPalette(__m128i block)
{
    const __m128i spreadEndpoints = _mm_setr_epi8(0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, -1, -1, -1, -1);
    const __m128i swapEndpoints = _mm_setr_epi8(6, 7, 8, 9, 10, 11, 0, 1, 2, 3, 4, 5, -1, -1, -1, -1);
    const __m128i spreadFirstLane = _mm_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1);
    const __m128i fieldMask = _mm_setr_epi16(-0x800, 0x07E0, 0x001F, -0x800, 0x07E0, 0x001F, 0, 0);
    const __m128i shiftRight = _mm_setr_epi16(1 << 8, 1 << 13, 0, 1 << 8, 1 << 13, 0, 0, 0);
    const __m128i shiftLeft = _mm_setr_epi16(0, 0, 8, 0, 0, 8, 0, 0);
    const __m128i firstEndpointLanes = _mm_setr_epi16(-1, -1, -1, 0, 0, 0, 0, 0);

    // Lanes 0-5: c0 three times, then c1 three times.
    const __m128i raw = _mm_shuffle_epi8(block, spreadEndpoints);
    // Expansion: red = (c & 0xF800) >> 8, green = (c & 0x07E0) >> 3, blue = (c & 0x1F) << 3.
    const __m128i fields = _mm_and_si128(raw, fieldMask);
    const __m128i e = _mm_or_si128(_mm_mulhi_epu16(fields, shiftRight), _mm_mullo_epi16(fields, shiftLeft));
    const __m128i swapped = _mm_shuffle_epi8(e, swapEndpoints); // r1 g1 b1 r0 g0 b0

    // Four-colour mode: (2·e0 + e1) / 3 in lanes 0-2, (e0 + 2·e1) / 3 in lanes 3-5;
    // x / 3 == (x · 0x5556) >> 16 for every x up to 756.
    const __m128i thirds = _mm_mulhi_epu16(_mm_add_epi16(_mm_add_epi16(e, e), swapped), _mm_set1_epi16(0x5556));
    // Three-colour mode: (e0 + e1) >> 1 in lanes 0-2, black in lanes 3-5.
    const __m128i half = _mm_srli_epi16(_mm_add_epi16(e, swapped), 1);

    // c0 <= c1 (unsigned) exactly when c0 - c1 saturates to zero.
    const __m128i difference = _mm_subs_epu16(raw, _mm_shuffle_epi8(raw, swapEndpoints));
    const __m128i threeColour = _mm_cmpeq_epi16(_mm_shuffle_epi8(difference, spreadFirstLane), _mm_setzero_si128());
    const __m128i generated = _mm_or_si128(_mm_and_si128(half, _mm_and_si128(threeColour, firstEndpointLanes)),
                                           _mm_andnot_si128(threeColour, thirds));
    return _mm_packus_epi16(e, generated);
}

DXT1_TARGET inline __m128i row(__m128i palette, unsigned indices)
{
    return _mm_shuffle_epi8(palette, _mm_load_si128(reinterpret_cast<const __m128i *>(dxt1RowShuffles.control[indices])));
}

} // namespace

DXT1_TARGET void decodeDXT1BlocksSSSE3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    const std::size_t blocks = len / 8;
    if (blocks == 0)
        return;
    unsigned char *const out0 = outdata[0], *const out1 = outdata[1];
    unsigned char *const out2 = outdata[2], *const out3 = outdata[3];

    // Every block but the last stores 16 bytes per row; the next block
    // overwrites the 4 spare ones.
    std::size_t emit = 0;
    const unsigned char *block = data;
    for (std::size_t b = 0; b + 1 < blocks; ++b, block += 8, emit += 12) {
        const __m128i palette = blockPalette(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(block)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out0 + emit), row(palette, block[4]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out1 + emit), row(palette, block[5]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out2 + emit), row(palette, block[6]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out3 + emit), row(palette, block[7]));
    }

    // The last block stores exactly 12 bytes per row.
    const __m128i palette = blockPalette(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(block)));
    for (unsigned yo = 0; yo < 4; ++yo) {
        const __m128i pixels = row(palette, block[4 + yo]);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(outdata[yo] + emit), pixels);
        const int last = _mm_cvtsi128_si32(_mm_srli_si128(pixels, 8));
        std::memcpy(outdata[yo] + emit + 8, &last, 4);
    }
}

#endif
