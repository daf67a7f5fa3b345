// SSSE3 decoder: one block at a time. The palette is built in one register
// (lane-palettes.h), and each row is one byte shuffle of it and one store.
// One kernel writes RGB and RGBA, its pixel size a template parameter, under
// either colour rule, a template parameter of the palette alone.
#include "decoder-variants.h"

#ifdef DXT1_HAVE_X86_VARIANTS

#include <immintrin.h>

#define DXT1_TARGET __attribute__((target("ssse3")))

namespace {

// One 128-bit lane: the operations lanePalettes needs.
struct Ssse3 {
    typedef __m128i Vector;
    DXT1_TARGET static Vector lanes(const void *pattern) { return _mm_load_si128(static_cast<const __m128i *>(pattern)); }
    // The table lanePalettes reads its constants from, as it is.
    template <class T>
    DXT1_TARGET static const T &opaque(const T &table) { return table; }
    DXT1_TARGET static Vector bitAnd(Vector a, Vector b) { return _mm_and_si128(a, b); }
    DXT1_TARGET static Vector bitOr(Vector a, Vector b) { return _mm_or_si128(a, b); }
    DXT1_TARGET static Vector add(Vector a, Vector b) { return _mm_add_epi16(a, b); }
    DXT1_TARGET static Vector halve(Vector a) { return _mm_srli_epi16(a, 1); }
    DXT1_TARGET static Vector average(Vector a, Vector b) { return _mm_avg_epu16(a, b); }
    DXT1_TARGET static Vector mulhi(Vector a, Vector b) { return _mm_mulhi_epu16(a, b); }
    DXT1_TARGET static Vector mulhiRound(Vector a, Vector b) { return _mm_mulhrs_epi16(a, b); }
    DXT1_TARGET static Vector mullo(Vector a, Vector b) { return _mm_mullo_epi16(a, b); }
    DXT1_TARGET static Vector subtractSaturated(Vector a, Vector b) { return _mm_subs_epu16(a, b); }
    DXT1_TARGET static Vector isZero(Vector a) { return _mm_cmpeq_epi16(a, _mm_setzero_si128()); }
    DXT1_TARGET static Vector shuffle(Vector a, Vector pattern) { return _mm_shuffle_epi8(a, pattern); }
    DXT1_TARGET static Vector pack(Vector a, Vector b) { return _mm_packus_epi16(a, b); }
    DXT1_TARGET static Vector select(Vector mask, Vector a, Vector b)
    {
        return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
    }
};

} // namespace

#include "lane-palettes.h"

namespace {

// The palette of the 8-byte block at `block`.
template <unsigned PixelBytes, ColourRule Rule>
DXT1_TARGET inline __m128i blockPalette(const unsigned char *block)
{
    // 16-bit lanes 0-5: c0 three times, then c1 three times.
    const __m128i spreadEndpoints = _mm_setr_epi8(0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, -1, -1, -1, -1);
    const __m128i raw = _mm_shuffle_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(block)), spreadEndpoints);
    return lanePalettes<Ssse3, PixelBytes, Rule>(raw);
}

template <unsigned PixelBytes, ColourRule Rule>
DXT1_TARGET inline void decodeBlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    const std::size_t blocks = len / 8;
    if (blocks == 0)
        return;
    unsigned char *const out0 = outdata[0], *const out1 = outdata[1];
    unsigned char *const out2 = outdata[2], *const out3 = outdata[3];

    // Every block but the last stores 16 bytes per row: RGBA rows exactly,
    // RGB rows with 4 spare bytes that the next block overwrites.
    std::size_t emit = 0;
    const unsigned char *block = data;
    for (std::size_t b = 0; b + 1 < blocks; ++b, block += 8, emit += 4 * PixelBytes) {
        const __m128i palette = blockPalette<PixelBytes, Rule>(block);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out0 + emit), row<PixelBytes>(palette, block[4]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out1 + emit), row<PixelBytes>(palette, block[5]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out2 + emit), row<PixelBytes>(palette, block[6]));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out3 + emit), row<PixelBytes>(palette, block[7]));
    }

    // The last block stores its own bytes alone.
    const __m128i palette = blockPalette<PixelBytes, Rule>(block);
    for (unsigned yo = 0; yo < 4; ++yo)
        storeLastRow<PixelBytes>(outdata[yo] + emit, row<PixelBytes>(palette, block[4 + yo]));
}

constexpr ColourRule design = ColourRule::design, gpu = ColourRule::gpu;

} // namespace

const DecoderTable ssse3Decoders = {{
    /* bc1  */ {decodeBlocks<kRgbBytes, design>, decodeBlocks<kRgbBytes, gpu>},
    /* bc1a */ {decodeBlocks<kRgbaBytes, design>, decodeBlocks<kRgbaBytes, gpu>},
}};

#endif
