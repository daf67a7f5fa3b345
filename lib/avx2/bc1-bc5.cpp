// AVX2 decoder: two blocks per register, one in each 128-bit lane. The
// palettes are built as in the SSSE3 decoder (lane-palettes.h); each row
// of a block is one byte shuffle and one 16-byte store, which for RGB the next
// block overlaps. One kernel writes RGB and RGBA, its pixel size a template
// parameter, under either colour rule, a template parameter of the palette
// alone. BC2 to BC5 run lane-channels.h's kernels with two 128-bit lanes a
// register: BC2 two blocks at a time, BC3 and BC4 four, BC5 two.
#include "bc7-decoder.h"
#include "decoder-variants.h"

#ifdef DXT1_HAVE_X86_VARIANTS

#include <immintrin.h>

#include <cstdint>

#define DXT1_TARGET __attribute__((target("avx2")))

namespace {

// Two 128-bit lanes: the operations the lane kernels need.
struct Avx2 {
    typedef __m256i Vector;
    static constexpr unsigned kLanes = 2;
    DXT1_TARGET static Vector lanes(const void *pattern)
    {
        return _mm256_broadcastsi128_si256(_mm_load_si128(static_cast<const __m128i *>(pattern)));
    }
    // A table of constants as it is, its values seen by the compiler.
    template <class T>
    DXT1_TARGET static const T &opaque(const T &table) { return table; }
    // A constant of every lane, stored for each (lane-palettes.h).
    DXT1_TARGET static Vector wholeLanes(const void *pattern) { return _mm256_load_si256(static_cast<const __m256i *>(pattern)); }
    DXT1_TARGET static Vector load(const unsigned char *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
    DXT1_TARGET static __m128i lane(Vector a, unsigned l)
    {
        return l == 0 ? _mm256_castsi256_si128(a) : _mm256_extracti128_si256(a, 1);
    }
    DXT1_TARGET static Vector zero() { return _mm256_setzero_si256(); }
    DXT1_TARGET static Vector bitAnd(Vector a, Vector b) { return _mm256_and_si256(a, b); }
    DXT1_TARGET static Vector bitOr(Vector a, Vector b) { return _mm256_or_si256(a, b); }
    DXT1_TARGET static Vector bitXor(Vector a, Vector b) { return _mm256_xor_si256(a, b); }
    DXT1_TARGET static Vector andNot(Vector mask, Vector b) { return _mm256_andnot_si256(mask, b); }
    DXT1_TARGET static Vector add(Vector a, Vector b) { return _mm256_add_epi16(a, b); }
    DXT1_TARGET static Vector halve(Vector a) { return _mm256_srli_epi16(a, 1); }
    DXT1_TARGET static Vector average(Vector a, Vector b) { return _mm256_avg_epu16(a, b); }
    template <int Bits>
    DXT1_TARGET static Vector shiftRightWords(Vector a) { return _mm256_srli_epi16(a, Bits); }
    template <int Bits>
    DXT1_TARGET static Vector shiftRightQuads(Vector a) { return _mm256_srli_epi64(a, Bits); }
    DXT1_TARGET static Vector mulhi(Vector a, Vector b) { return _mm256_mulhi_epu16(a, b); }
    DXT1_TARGET static Vector mulhiRound(Vector a, Vector b) { return _mm256_mulhrs_epi16(a, b); }
    DXT1_TARGET static Vector mullo(Vector a, Vector b) { return _mm256_mullo_epi16(a, b); }
    DXT1_TARGET static Vector multiplyAddBytes(Vector a, Vector b) { return _mm256_maddubs_epi16(a, b); }
    DXT1_TARGET static Vector subtractSaturated(Vector a, Vector b) { return _mm256_subs_epu16(a, b); }
    DXT1_TARGET static Vector absolute(Vector a) { return _mm256_abs_epi16(a); }
    DXT1_TARGET static Vector signOf(Vector a, Vector sign) { return _mm256_sign_epi16(a, sign); }
    DXT1_TARGET static Vector addBytes(Vector a, Vector b) { return _mm256_add_epi8(a, b); }
    DXT1_TARGET static Vector packSigned(Vector a, Vector b) { return _mm256_packs_epi16(a, b); }
    // Signed bytes raised to `lowest` where below it.
    DXT1_TARGET static Vector atLeast(Vector a, Vector lowest) { return _mm256_max_epi8(a, lowest); }
    DXT1_TARGET static Vector subtractBytes(Vector a, Vector b) { return _mm256_sub_epi8(a, b); }
    DXT1_TARGET static Vector isZero(Vector a) { return _mm256_cmpeq_epi16(a, _mm256_setzero_si256()); }
    DXT1_TARGET static Vector greater(Vector a, Vector b) { return _mm256_cmpgt_epi16(a, b); }
    DXT1_TARGET static Vector greaterBytes(Vector a, Vector b) { return _mm256_cmpgt_epi8(a, b); }
    DXT1_TARGET static Vector shuffle(Vector a, Vector pattern) { return _mm256_shuffle_epi8(a, pattern); }
    DXT1_TARGET static Vector pack(Vector a, Vector b) { return _mm256_packus_epi16(a, b); }
    DXT1_TARGET static Vector unpackLow64(Vector a, Vector b) { return _mm256_unpacklo_epi64(a, b); }
    DXT1_TARGET static Vector select(Vector mask, Vector a, Vector b) { return _mm256_blendv_epi8(b, a, mask); }
    // Bytes 0-7 of each lane to `first`, 8-15 of each to `second`.
    DXT1_TARGET static void storeRowHalves(unsigned char *first, unsigned char *second, Vector a)
    {
        const __m256i rows = _mm256_permute4x64_epi64(a, _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(first), _mm256_castsi256_si128(rows));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(second), _mm256_extracti128_si256(rows, 1));
    }
};

} // namespace

#include "lane-channels.h"

namespace {

// The plane lines 1.5 KB (128 blocks) ahead are asked for before they are
// stored to, which cut the time spent waiting for them on a 4096 × 4096
// surface by about a third; the distance was chosen by measuring there.
constexpr std::uintptr_t kPrefetchDistance = 1536;

DXT1_TARGET inline void prefetchAhead(const unsigned char *out)
{
    // An integer, not a pointer, since the address may lie past the plane.
    _mm_prefetch(reinterpret_cast<const char *>(reinterpret_cast<std::uintptr_t>(out) + kPrefetchDistance), _MM_HINT_T0);
}

// The palettes of the blocks at `pair` (one or two): the first block's in the
// low lane, the second's in the high one. Both lanes hold the same 16 input
// bytes, so the high lane takes its endpoints from bytes 8-11.
template <unsigned PixelBytes, ColourRule Rule>
DXT1_TARGET inline __m256i pairPalettes(__m128i pair)
{
    const __m256i spreadEndpoints = _mm256_setr_epi8(
        0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, -1, -1, -1, -1,
        8, 9, 8, 9, 8, 9, 10, 11, 10, 11, 10, 11, -1, -1, -1, -1);
    return lanePalettes<Avx2, PixelBytes, Rule>(_mm256_shuffle_epi8(_mm256_broadcastsi128_si256(pair), spreadEndpoints));
}

// One row of a pair: the first block's pixels at `out`, the second's after them.
// 128-bit shuffles leave more ports free than 256-bit ones with a lane insert.
template <unsigned PixelBytes>
DXT1_TARGET inline void storePairRow(unsigned char *out, __m128i first, __m128i second, const unsigned char *indices)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), row<PixelBytes>(first, indices[0]));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4 * PixelBytes), row<PixelBytes>(second, indices[8]));
}

template <unsigned PixelBytes, ColourRule Rule>
DXT1_TARGET inline void decodeBlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    constexpr std::size_t rowBytes = 4 * PixelBytes;
    const std::size_t blocks = len / 8;
    unsigned char *const out0 = outdata[0], *const out1 = outdata[1];
    unsigned char *const out2 = outdata[2], *const out3 = outdata[3];

    // Pairs that have a block after them store 16 bytes per block and row;
    // for RGB the spare 4 bytes are overwritten by the block that follows.
    std::size_t b = 0, emit = 0;
    const unsigned char *block = data;
    for (; b + 2 < blocks; b += 2, block += 16, emit += 2 * rowBytes) {
        prefetchAhead(out0 + emit);
        prefetchAhead(out1 + emit);
        prefetchAhead(out2 + emit);
        prefetchAhead(out3 + emit);
        const __m256i palettes = pairPalettes<PixelBytes, Rule>(_mm_loadu_si128(reinterpret_cast<const __m128i *>(block)));
        const __m128i first = _mm256_castsi256_si128(palettes), second = _mm256_extracti128_si256(palettes, 1);
        storePairRow<PixelBytes>(out0 + emit, first, second, block + 4);
        storePairRow<PixelBytes>(out1 + emit, first, second, block + 5);
        storePairRow<PixelBytes>(out2 + emit, first, second, block + 6);
        storePairRow<PixelBytes>(out3 + emit, first, second, block + 7);
    }

    // The last one or two blocks store their own bytes alone.
    for (; b < blocks; ++b, block += 8, emit += rowBytes) {
        const __m128i palette = _mm256_castsi256_si128(
            pairPalettes<PixelBytes, Rule>(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(block))));
        for (unsigned yo = 0; yo < 4; ++yo)
            storeLastRow<PixelBytes>(outdata[yo] + emit, row<PixelBytes>(palette, block[4 + yo]));
    }
}

constexpr ColourRule design = ColourRule::design, gpu = ColourRule::gpu;

} // namespace

const DecoderTable avx2Decoders = {{
    /* bc1  */ {decodeBlocks<kRgbBytes, design>, decodeBlocks<kRgbBytes, gpu>},
    /* bc1a */ {decodeBlocks<kRgbaBytes, design>, decodeBlocks<kRgbaBytes, gpu>},
    /* bc2  */ {decodeBC2<Avx2, design>, decodeBC2<Avx2, gpu>},
    /* bc3  */ {decodeBC3<Avx2, design>, decodeBC3<Avx2, gpu>},
    /* bc4  */ {decodeBC4<Avx2, design, false>, decodeBC4<Avx2, gpu, false>},
    /* bc4s */ {decodeBC4<Avx2, design, true>, decodeBC4<Avx2, gpu, true>},
    /* bc5  */ {decodeBC5<Avx2, design, false>, decodeBC5<Avx2, gpu, false>},
    /* bc5s */ {decodeBC5<Avx2, design, true>, decodeBC5<Avx2, gpu, true>},
    /* bc7  */ {decodeBC7BlocksAVX2, decodeBC7BlocksAVX2},
}};

#endif
