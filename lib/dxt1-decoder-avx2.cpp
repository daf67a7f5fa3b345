// AVX2 decoder: two blocks per register, one in each 128-bit half. The
// palettes are built as in the SSSE3 decoder, in 16-bit lanes; each row of a
// block is one byte shuffle and one 16-byte store that the next block overlaps.
#include "dxt1-variants.h"

#ifdef DXT1_HAVE_X86_VARIANTS

#include <immintrin.h>

#include <cstring>

#include "dxt1-row-shuffles.h"

#define DXT1_TARGET __attribute__((target("avx2")))

namespace {

// The palettes of the two blocks in `pair` (both halves hold the same 16
// input bytes): the first block's in the low half, the second's in the high.
DXT1_TARGET inline __m256i pairPalettes(__m256i pair)
{
    const __m256i spreadEndpoints = _mm256_setr_epi8(
        0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, -1, -1, -1, -1,
        8, 9, 8, 9, 8, 9, 10, 11, 10, 11, 10, 11, -1, -1, -1, -1);
    const __m256i swapEndpoints = _mm256_setr_epi8(
        6, 7, 8, 9, 10, 11, 0, 1, 2, 3, 4, 5, -1, -1, -1, -1,
        6, 7, 8, 9, 10, 11, 0, 1, 2, 3, 4, 5, -1, -1, -1, -1);
    const __m256i spreadFirstLane = _mm256_set1_epi16(0x0100);
    const __m256i fieldMask = _mm256_setr_epi16(-0x800, 0x07E0, 0x001F, -0x800, 0x07E0, 0x001F, 0, 0,
                                                -0x800, 0x07E0, 0x001F, -0x800, 0x07E0, 0x001F, 0, 0);
    const __m256i shiftRight = _mm256_setr_epi16(1 << 8, 1 << 13, 0, 1 << 8, 1 << 13, 0, 0, 0,
                                                 1 << 8, 1 << 13, 0, 1 << 8, 1 << 13, 0, 0, 0);
    const __m256i shiftLeft = _mm256_setr_epi16(0, 0, 8, 0, 0, 8, 0, 0, 0, 0, 8, 0, 0, 8, 0, 0);
    const __m256i firstEndpointLanes = _mm256_setr_epi16(-1, -1, -1, 0, 0, 0, 0, 0, -1, -1, -1, 0, 0, 0, 0, 0);

    // Lanes 0-5 of each half: c0 three times, then c1 three times.
    const __m256i raw = _mm256_shuffle_epi8(pair, spreadEndpoints);
    // Expansion: red = (c & 0xF800) >> 8, green = (c & 0x07E0) >> 3, blue = (c & 0x1F) << 3.
    const __m256i fields = _mm256_and_si256(raw, fieldMask);
    const __m256i e = _mm256_or_si256(_mm256_mulhi_epu16(fields, shiftRight), _mm256_mullo_epi16(fields, shiftLeft));
    const __m256i swapped = _mm256_shuffle_epi8(e, swapEndpoints);

    // Four-colour mode: (2·e0 + e1) / 3 and (e0 + 2·e1) / 3, with x / 3 == (x · 0x5556) >> 16.
    const __m256i thirds = _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_add_epi16(e, e), swapped),
                                              _mm256_set1_epi16(0x5556));
    // Three-colour mode: (e0 + e1) >> 1, then black.
    const __m256i half = _mm256_srli_epi16(_mm256_add_epi16(e, swapped), 1);

    // c0 <= c1 (unsigned) exactly when c0 - c1 saturates to zero.
    const __m256i difference = _mm256_subs_epu16(raw, _mm256_shuffle_epi8(raw, swapEndpoints));
    const __m256i threeColour = _mm256_cmpeq_epi16(_mm256_shuffle_epi8(difference, spreadFirstLane),
                                                   _mm256_setzero_si256());
    const __m256i generated = _mm256_or_si256(_mm256_and_si256(half, _mm256_and_si256(threeColour, firstEndpointLanes)),
                                              _mm256_andnot_si256(threeColour, thirds));
    return _mm256_packus_epi16(e, generated);
}

DXT1_TARGET inline const __m128i *control(unsigned indices)
{
    return reinterpret_cast<const __m128i *>(dxt1RowShuffles.control[indices]);
}

// One row of one block, 12 pixel bytes and 4 spare ones.
DXT1_TARGET inline __m128i row(__m128i palette, unsigned indices)
{
    return _mm_shuffle_epi8(palette, _mm_load_si128(control(indices)));
}

// One row of a pair: the first block's 12 bytes at `out`, the second's after them.
// 128-bit shuffles leave more ports free than 256-bit ones with a lane insert.
DXT1_TARGET inline void storePairRow(unsigned char *out, __m128i first, __m128i second, const unsigned char *indices)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), row(first, indices[0]));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 12), row(second, indices[8]));
}

// One row of a single block, exactly 12 bytes.
DXT1_TARGET inline void storeLastRow(unsigned char *out, __m128i palette, unsigned indices)
{
    const __m128i pixels = row(palette, indices);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), pixels);
    const int last = _mm_cvtsi128_si32(_mm_srli_si128(pixels, 8));
    std::memcpy(out + 8, &last, 4);
}

} // namespace

DXT1_TARGET void decodeDXT1BlocksAVX2(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    const std::size_t blocks = len / 8;
    unsigned char *const out0 = outdata[0], *const out1 = outdata[1];
    unsigned char *const out2 = outdata[2], *const out3 = outdata[3];

    // Pairs that have a block after them store 16 bytes per block and row;
    // the spare 4 bytes are overwritten by the block that follows.
    std::size_t b = 0, emit = 0;
    const unsigned char *block = data;
    for (; b + 2 < blocks; b += 2, block += 16, emit += 24) {
        // Asking for the plane lines ahead of the stores cuts the time spent
        // waiting for them on large surfaces by about a third.
        _mm_prefetch(reinterpret_cast<const char *>(out0 + emit + 1536), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char *>(out1 + emit + 1536), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char *>(out2 + emit + 1536), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char *>(out3 + emit + 1536), _MM_HINT_T0);
        const __m256i palettes =
            pairPalettes(_mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(block))));
        const __m128i first = _mm256_castsi256_si128(palettes), second = _mm256_extracti128_si256(palettes, 1);
        storePairRow(out0 + emit, first, second, block + 4);
        storePairRow(out1 + emit, first, second, block + 5);
        storePairRow(out2 + emit, first, second, block + 6);
        storePairRow(out3 + emit, first, second, block + 7);
    }

    // The last one or two blocks store exactly 12 bytes per block and row.
    for (; b < blocks; ++b, block += 8, emit += 12) {
        __m128i single = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(block));
        const __m128i palette = _mm256_castsi256_si128(pairPalettes(_mm256_broadcastsi128_si256(single)));
        storeLastRow(out0 + emit, palette, block[4]);
        storeLastRow(out1 + emit, palette, block[5]);
        storeLastRow(out2 + emit, palette, block[6]);
        storeLastRow(out3 + emit, palette, block[7]);
    }
}

#endif
