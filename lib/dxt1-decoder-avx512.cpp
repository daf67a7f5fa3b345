// AVX-512 (VBMI) decoder: four blocks per register, one in each 128-bit lane.
// The palettes are built in 16-bit lanes as in the other vector decoders.
// A row of four blocks is made without tables: a multishift pulls each
// pixel's 2-bit index out of the block bits, a permute turns it into a
// palette byte position, and a second permute gathers the 48 row bytes,
// stored with a byte mask so that nothing outside the plane is touched.
#include "dxt1-variants.h"

#ifdef DXT1_HAVE_X86_VARIANTS

// GCC 12 warns about the deliberately undefined pass-through values inside
// its own AVX-512 intrinsics.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#define DXT1_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi")))

namespace {

// Permute controls built from byte patterns: lane q (block q) of each.
struct Controls {
    alignas(64) unsigned char spreadEndpoints[64]; // c0 three times, c1 three times, in 16-bit lanes
    alignas(64) unsigned char gatherIndices[2][64]; // every qword: rows 2h, 2h+1 of blocks 0-3
    alignas(64) unsigned char indexShift[4][64];   // bit offset of each row byte's index in that qword
    alignas(64) unsigned char paletteBase[64];     // 16q + c for row byte j = 12q + 3xo + c
    alignas(64) unsigned char colourOffset[64];    // index k -> colour k's byte in a palette lane
};

constexpr Controls makeControls()
{
    Controls t{};
    const unsigned char endpointBytes[12] = {0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3};
    for (unsigned q = 0; q < 4; ++q)
        for (unsigned i = 0; i < 16; ++i)
            t.spreadEndpoints[16 * q + i] = static_cast<unsigned char>(8 * q + (i < 12 ? endpointBytes[i] : 0));
    for (unsigned h = 0; h < 2; ++h)
        for (unsigned j = 0; j < 64; ++j) {
            const unsigned q = j % 4, row = 2 * h + (j % 8) / 4;
            t.gatherIndices[h][j] = static_cast<unsigned char>(8 * q + 4 + row);
        }
    for (unsigned yo = 0; yo < 4; ++yo)
        for (unsigned j = 0; j < 64; ++j) {
            const unsigned q = (j / 12) % 4, xo = (j % 12) / 3;
            t.indexShift[yo][j] = static_cast<unsigned char>(8 * (4 * (yo % 2) + q) + 2 * xo);
        }
    for (unsigned j = 0; j < 64; ++j) {
        const unsigned q = (j / 12) % 4;
        t.paletteBase[j] = static_cast<unsigned char>(16 * q + j % 3);
        const unsigned char offsets[4] = {0, 3, 8, 11};
        t.colourOffset[j] = offsets[j & 3];
    }
    return t;
}

constexpr Controls controls = makeControls();

DXT1_TARGET inline __m512i load(const unsigned char *p)
{
    return _mm512_load_si512(reinterpret_cast<const void *>(p));
}

// The palettes of the (up to) four blocks in bytes 0-31 of `quad`.
DXT1_TARGET inline __m512i quadPalettes(__m512i quad)
{
    const __m512i fieldMask = _mm512_broadcast_i32x4(_mm_setr_epi16(-0x800, 0x07E0, 0x001F, -0x800, 0x07E0, 0x001F, 0, 0));
    const __m512i shiftRight = _mm512_broadcast_i32x4(_mm_setr_epi16(1 << 8, 1 << 13, 0, 1 << 8, 1 << 13, 0, 0, 0));
    const __m512i shiftLeft = _mm512_broadcast_i32x4(_mm_setr_epi16(0, 0, 8, 0, 0, 8, 0, 0));
    const __m512i swapEndpoints = _mm512_broadcast_i32x4(
        _mm_setr_epi8(6, 7, 8, 9, 10, 11, 0, 1, 2, 3, 4, 5, 12, 13, 14, 15));
    const __mmask32 firstEndpointLanes = 0x07070707;

    const __m512i raw = _mm512_permutexvar_epi8(load(controls.spreadEndpoints), quad);
    // Expansion: red = (c & 0xF800) >> 8, green = (c & 0x07E0) >> 3, blue = (c & 0x1F) << 3.
    const __m512i fields = _mm512_and_si512(raw, fieldMask);
    const __m512i e = _mm512_or_si512(_mm512_mulhi_epu16(fields, shiftRight), _mm512_mullo_epi16(fields, shiftLeft));
    const __m512i swapped = _mm512_shuffle_epi8(e, swapEndpoints);

    // Four-colour mode: (2·e0 + e1) / 3 and (e0 + 2·e1) / 3, with x / 3 == (x · 0x5556) >> 16.
    const __m512i thirds = _mm512_mulhi_epu16(_mm512_add_epi16(_mm512_add_epi16(e, e), swapped),
                                              _mm512_set1_epi16(0x5556));
    // Three-colour mode: (e0 + e1) >> 1, then black.
    const __m512i half = _mm512_maskz_mov_epi16(firstEndpointLanes, _mm512_srli_epi16(_mm512_add_epi16(e, swapped), 1));

    // c0 > c1 (unsigned) in lanes 0-2 of each block, copied to lanes 3-5.
    const __mmask32 greater = _mm512_cmpgt_epu16_mask(raw, _mm512_shuffle_epi8(raw, swapEndpoints)) & firstEndpointLanes;
    const __m512i generated = _mm512_mask_mov_epi16(half, greater | (greater << 3), thirds);
    return _mm512_packus_epi16(e, generated);
}

// Row `yo` of the four blocks: 48 bytes.
DXT1_TARGET inline __m512i quadRow(__m512i palettes, __m512i indexBytes, unsigned yo)
{
    const __m512i indices = _mm512_multishift_epi64_epi8(load(controls.indexShift[yo]), indexBytes);
    const __m512i position = _mm512_add_epi8(_mm512_permutexvar_epi8(indices, load(controls.colourOffset)),
                                             load(controls.paletteBase));
    return _mm512_permutexvar_epi8(position, palettes);
}

DXT1_TARGET inline void decodeQuad(__m512i quad, unsigned char *const out[4], __mmask64 rowBytes)
{
    const __m512i palettes = quadPalettes(quad);
    const __m512i upperRows = _mm512_permutexvar_epi8(load(controls.gatherIndices[0]), quad);
    const __m512i lowerRows = _mm512_permutexvar_epi8(load(controls.gatherIndices[1]), quad);
    _mm512_mask_storeu_epi8(out[0], rowBytes, quadRow(palettes, upperRows, 0));
    _mm512_mask_storeu_epi8(out[1], rowBytes, quadRow(palettes, upperRows, 1));
    _mm512_mask_storeu_epi8(out[2], rowBytes, quadRow(palettes, lowerRows, 2));
    _mm512_mask_storeu_epi8(out[3], rowBytes, quadRow(palettes, lowerRows, 3));
}

} // namespace

DXT1_TARGET void decodeDXT1BlocksAVX512(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    const std::size_t blocks = len / 8;
    std::size_t b = 0;
    unsigned char *out[4] = {outdata[0], outdata[1], outdata[2], outdata[3]};
    const __mmask64 fullRows = (__mmask64(1) << 48) - 1;
    for (; b + 4 <= blocks; b += 4) {
        const __m512i quad = _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(data + 8 * b)));
        decodeQuad(quad, out, fullRows);
        for (unsigned char *&plane : out)
            plane += 48;
    }
    // The last one to three blocks: loads and stores masked to their exact size.
    if (const std::size_t rest = blocks - b) {
        const __m512i quad = _mm512_maskz_loadu_epi8((__mmask64(1) << (8 * rest)) - 1, data + 8 * b);
        decodeQuad(quad, out, (__mmask64(1) << (12 * rest)) - 1);
    }
}

#endif
