// SSSE3 decoder: one block at a time. The palette is built in one register
// (lane-palettes.h), and each row is one byte shuffle of it and one store.
// One kernel writes RGB and RGBA, its pixel size a template parameter, under
// either colour rule, a template parameter of the palette alone. BC2 to BC5
// run lane-channels.h's kernels with one 128-bit lane a register: BC2 one
// block at a time, BC3 and BC4 two, BC5 one.
#include "bc7-decoder.h"
#include "decoder-variants.h"

#ifdef DXT1_HAVE_X86_VARIANTS

#include <immintrin.h>

#define DXT1_TARGET __attribute__((target("ssse3")))

namespace {

// One 128-bit lane: the operations the lane kernels need.
struct Ssse3 {
    typedef __m128i Vector;
    static constexpr unsigned kLanes = 1;
    DXT1_TARGET static Vector lanes(const void *pattern) { return _mm_load_si128(static_cast<const __m128i *>(pattern)); }
    // A table of constants as it is, its values seen by the compiler.
    template <class T>
    DXT1_TARGET static const T &opaque(const T &table) { return table; }
    // A constant of every lane, stored for each (lane-palettes.h).
    DXT1_TARGET static Vector wholeLanes(const void *pattern) { return _mm_load_si128(static_cast<const __m128i *>(pattern)); }
    DXT1_TARGET static Vector load(const unsigned char *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
    DXT1_TARGET static __m128i lane(Vector a, unsigned) { return a; }
    DXT1_TARGET static Vector zero() { return _mm_setzero_si128(); }
    DXT1_TARGET static Vector bitAnd(Vector a, Vector b) { return _mm_and_si128(a, b); }
    DXT1_TARGET static Vector bitOr(Vector a, Vector b) { return _mm_or_si128(a, b); }
    DXT1_TARGET static Vector bitXor(Vector a, Vector b) { return _mm_xor_si128(a, b); }
    DXT1_TARGET static Vector andNot(Vector mask, Vector b) { return _mm_andnot_si128(mask, b); }
    DXT1_TARGET static Vector add(Vector a, Vector b) { return _mm_add_epi16(a, b); }
    DXT1_TARGET static Vector halve(Vector a) { return _mm_srli_epi16(a, 1); }
    DXT1_TARGET static Vector average(Vector a, Vector b) { return _mm_avg_epu16(a, b); }
    template <int Bits>
    DXT1_TARGET static Vector shiftRightWords(Vector a) { return _mm_srli_epi16(a, Bits); }
    template <int Bits>
    DXT1_TARGET static Vector shiftRightQuads(Vector a) { return _mm_srli_epi64(a, Bits); }
    DXT1_TARGET static Vector mulhi(Vector a, Vector b) { return _mm_mulhi_epu16(a, b); }
    DXT1_TARGET static Vector mulhiRound(Vector a, Vector b) { return _mm_mulhrs_epi16(a, b); }
    DXT1_TARGET static Vector mullo(Vector a, Vector b) { return _mm_mullo_epi16(a, b); }
    DXT1_TARGET static Vector multiplyAddBytes(Vector a, Vector b) { return _mm_maddubs_epi16(a, b); }
    DXT1_TARGET static Vector subtractSaturated(Vector a, Vector b) { return _mm_subs_epu16(a, b); }
    DXT1_TARGET static Vector absolute(Vector a) { return _mm_abs_epi16(a); }
    DXT1_TARGET static Vector signOf(Vector a, Vector sign) { return _mm_sign_epi16(a, sign); }
    DXT1_TARGET static Vector addBytes(Vector a, Vector b) { return _mm_add_epi8(a, b); }
    DXT1_TARGET static Vector packSigned(Vector a, Vector b) { return _mm_packs_epi16(a, b); }
    // Signed bytes raised to `lowest` where below it.
    DXT1_TARGET static Vector atLeast(Vector a, Vector lowest) { return _mm_sub_epi8(a, _mm_cmpgt_epi8(lowest, a)); }
    DXT1_TARGET static Vector subtractBytes(Vector a, Vector b) { return _mm_sub_epi8(a, b); }
    DXT1_TARGET static Vector isZero(Vector a) { return _mm_cmpeq_epi16(a, _mm_setzero_si128()); }
    DXT1_TARGET static Vector greater(Vector a, Vector b) { return _mm_cmpgt_epi16(a, b); }
    DXT1_TARGET static Vector greaterBytes(Vector a, Vector b) { return _mm_cmpgt_epi8(a, b); }
    DXT1_TARGET static Vector shuffle(Vector a, Vector pattern) { return _mm_shuffle_epi8(a, pattern); }
    DXT1_TARGET static Vector pack(Vector a, Vector b) { return _mm_packus_epi16(a, b); }
    DXT1_TARGET static Vector unpackLow64(Vector a, Vector b) { return _mm_unpacklo_epi64(a, b); }
    DXT1_TARGET static Vector select(Vector mask, Vector a, Vector b)
    {
        return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
    }
    // Bytes 0-7 to `first`, 8-15 to `second`.
    DXT1_TARGET static void storeRowHalves(unsigned char *first, unsigned char *second, Vector a)
    {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(first), a);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(second), _mm_srli_si128(a, 8));
    }
};

} // namespace

#include "lane-channels.h"

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
    /* bc2  */ {decodeBC2<Ssse3, design>, decodeBC2<Ssse3, gpu>},
    /* bc3  */ {decodeBC3<Ssse3, design>, decodeBC3<Ssse3, gpu>},
    /* bc4  */ {decodeBC4<Ssse3, design, false>, decodeBC4<Ssse3, gpu, false>},
    /* bc4s */ {decodeBC4<Ssse3, design, true>, decodeBC4<Ssse3, gpu, true>},
    /* bc5  */ {decodeBC5<Ssse3, design, false>, decodeBC5<Ssse3, gpu, false>},
    /* bc5s */ {decodeBC5<Ssse3, design, true>, decodeBC5<Ssse3, gpu, true>},
    /* bc7  */ {decodeBC7BlocksSSSE3, decodeBC7BlocksSSSE3},
}};

#endif
