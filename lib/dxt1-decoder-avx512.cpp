// AVX-512 (VBMI) decoder: four blocks per register, one in each 128-bit lane.
// Palettes are built in 16-bit lanes as in the other vector decoders, with
// colour k at bytes 4k to 4k + 2 of its block's lane. Rows need no tables: a
// multishift brings each pixel's 2-bit index to bits 2-3 of a byte, which,
// merged with the block's lane and the colour component, is the byte's
// position in the palettes; a byte permute then gathers the pixels.
//
// Runs of sixteen blocks are gathered straight into three 64-byte pieces of
// each plane, so every store writes 64 new bytes. The last blocks go four at
// a time, with loads and stores masked to their exact size, so that nothing
// outside the input and the planes is touched.
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

// Byte controls. "Lane q" is block q of a group of four; "stream byte s" is
// byte s of a plane's run of sixteen blocks (12 per block).
struct Controls {
    alignas(64) unsigned char spreadEndpoints[2][64]; // 16-bit lanes c0 c0 c0 - c1 c1 c1 -, from blocks 4h..4h+3
    alignas(64) unsigned char quadIndices[64];        // a quad: the index bytes its row qwords need
    alignas(64) unsigned char quadShift[4][64];       // row yo of a quad: bit offset of each byte's index
    alignas(64) unsigned char quadBase[64];           // row byte 12q + 3xo + c -> 16q + c
    alignas(64) unsigned char pieceIndices[3][64];    // piece p: the index bytes its qwords need
    alignas(64) unsigned char pieceShift[3][4][64];   // piece p, row yo: bit offset of each byte's index
    alignas(64) unsigned char pieceBase[3][64];       // piece p: 16 · (block - 4p) + c
};

constexpr unsigned char shiftToBitsTwoAndThree(unsigned bit)
{
    return static_cast<unsigned char>((bit + 62) % 64);
}

constexpr Controls makeControls()
{
    Controls t{};
    const unsigned char endpointBytes[8] = {0, 0, 0, 0, 2, 2, 2, 2};
    for (unsigned h = 0; h < 2; ++h)
        for (unsigned j = 0; j < 64; ++j)
            t.spreadEndpoints[h][j] = static_cast<unsigned char>(32 * h + 8 * (j / 16) + endpointBytes[(j % 16) / 2] + j % 2);
    // A multishift reads, for output byte j, qword j / 8 of its source. Qword i of
    // an index source therefore holds rows 0-3 of the first block that output
    // bytes 8i to 8i + 7 touch, then rows 0-3 of the next block.
    // A quad's row is stream bytes 0-47 of blocks 0-3.
    for (unsigned j = 0; j < 64; ++j) {
        const unsigned first = (8 * (j / 8)) / 12, block = first + (j % 8) / 4;
        t.quadIndices[j] = static_cast<unsigned char>(8 * (block < 4 ? block : 3) + 4 + j % 4);
        const unsigned own = (j / 12) % 4, xo = (j % 12) / 3;
        // Bytes 48-63 are never stored; "& 1" only keeps their offsets in range.
        for (unsigned yo = 0; yo < 4; ++yo)
            t.quadShift[yo][j] = shiftToBitsTwoAndThree(8 * (4 * ((own - first) & 1) + yo) + 2 * xo);
        t.quadBase[j] = static_cast<unsigned char>(16 * own + j % 3);
    }
    // Piece p of sixteen blocks is stream bytes 64p to 64p + 63.
    for (unsigned p = 0; p < 3; ++p)
        for (unsigned j = 0; j < 64; ++j) {
            const unsigned i = j / 8, first = (64 * p + 8 * i) / 12;
            const unsigned block = first + (j % 8) / 4, row = j % 4;
            t.pieceIndices[p][j] = static_cast<unsigned char>(8 * (block < 16 ? block : 15) + 4 + row);
            const unsigned s = 64 * p + j, own = s / 12, xo = (s % 12) / 3, c = s % 3;
            t.pieceBase[p][j] = static_cast<unsigned char>(16 * (own - 4 * p) + c);
            for (unsigned yo = 0; yo < 4; ++yo)
                t.pieceShift[p][yo][j] = shiftToBitsTwoAndThree(8 * (4 * (own - first) + yo) + 2 * xo);
        }
    return t;
}

constexpr Controls controls = makeControls();

DXT1_TARGET inline __m512i load(const unsigned char *p)
{
    return _mm512_load_si512(reinterpret_cast<const void *>(p));
}

// The palettes of blocks 4h to 4h + 3 of the eight blocks in `blocks`.
DXT1_TARGET inline __m512i quadPalettes(__m512i blocks, unsigned h)
{
    const __m512i fieldMask = _mm512_broadcast_i32x4(_mm_setr_epi16(-0x800, 0x07E0, 0x001F, 0, -0x800, 0x07E0, 0x001F, 0));
    const __m512i shiftRight = _mm512_broadcast_i32x4(_mm_setr_epi16(1 << 8, 1 << 13, 0, 0, 1 << 8, 1 << 13, 0, 0));
    const __m512i shiftLeft = _mm512_broadcast_i32x4(_mm_setr_epi16(0, 0, 8, 0, 0, 0, 8, 0));
    const __mmask32 firstEndpointLanes = 0x07070707;

    const __m512i raw = _mm512_permutexvar_epi8(load(controls.spreadEndpoints[h]), blocks);
    // Expansion: red = (c & 0xF800) >> 8, green = (c & 0x07E0) >> 3, blue = (c & 0x1F) << 3.
    const __m512i fields = _mm512_and_si512(raw, fieldMask);
    const __m512i e = _mm512_or_si512(_mm512_mulhi_epu16(fields, shiftRight), _mm512_mullo_epi16(fields, shiftLeft));
    const __m512i swapped = _mm512_shuffle_epi32(e, _MM_PERM_BADC);

    // Four-colour mode: (2·e0 + e1) / 3 and (e0 + 2·e1) / 3, with x / 3 == (x · 0x5556) >> 16.
    const __m512i thirds = _mm512_mulhi_epu16(_mm512_add_epi16(_mm512_add_epi16(e, e), swapped),
                                              _mm512_set1_epi16(0x5556));
    // Three-colour mode: (e0 + e1) >> 1, then black.
    const __m512i half = _mm512_maskz_mov_epi16(firstEndpointLanes, _mm512_srli_epi16(_mm512_add_epi16(e, swapped), 1));

    // c0 > c1 (unsigned) in lanes 0-2 of each block, copied to lanes 4-6.
    const __mmask32 greater = _mm512_cmpgt_epu16_mask(raw, _mm512_shuffle_epi32(raw, _MM_PERM_BADC)) & firstEndpointLanes;
    const __m512i generated = _mm512_mask_mov_epi16(half, greater | (greater << 4), thirds);
    return _mm512_packus_epi16(e, generated);
}

// Palette positions from index bits brought to bits 2-3: (bits & 0x0C) | base.
DXT1_TARGET inline __m512i positions(__m512i shifted, __m512i base)
{
    return _mm512_ternarylogic_epi32(shifted, _mm512_set1_epi8(0x0C), base, 0xEA);
}

// Row yo of a quad (48 bytes), from its palettes and its index source.
DXT1_TARGET inline __m512i quadRow(__m512i palettes, __m512i indexBytes, unsigned yo)
{
    const __m512i indices = _mm512_multishift_epi64_epi8(load(controls.quadShift[yo]), indexBytes);
    return _mm512_permutexvar_epi8(positions(indices, load(controls.quadBase)), palettes);
}

// Sixteen blocks: three 64-byte pieces per plane, each gathered from the
// palettes of the two quads its blocks belong to.
DXT1_TARGET inline void decodeSixteen(const unsigned char *data, unsigned char *const out[4])
{
    const __m512i low = _mm512_loadu_si512(data), high = _mm512_loadu_si512(data + 64);
    const __m512i palettes[4] = {quadPalettes(low, 0), quadPalettes(low, 1), quadPalettes(high, 0),
                                 quadPalettes(high, 1)};
    for (unsigned p = 0; p < 3; ++p) {
        const __m512i indexBytes = _mm512_permutex2var_epi8(low, load(controls.pieceIndices[p]), high);
        const __m512i base = load(controls.pieceBase[p]);
        for (unsigned yo = 0; yo < 4; ++yo) {
            const __m512i indices = _mm512_multishift_epi64_epi8(load(controls.pieceShift[p][yo]), indexBytes);
            _mm512_storeu_si512(out[yo] + 64 * p,
                                _mm512_permutex2var_epi8(palettes[p], positions(indices, base), palettes[p + 1]));
        }
    }
}

DXT1_TARGET inline void decodeQuad(__m512i quad, unsigned char *const out[4], __mmask64 rowBytes)
{
    const __m512i palettes = quadPalettes(quad, 0);
    const __m512i indexBytes = _mm512_permutexvar_epi8(load(controls.quadIndices), quad);
    for (unsigned yo = 0; yo < 4; ++yo)
        _mm512_mask_storeu_epi8(out[yo], rowBytes, quadRow(palettes, indexBytes, yo));
}

} // namespace

DXT1_TARGET void decodeDXT1BlocksAVX512(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    const std::size_t blocks = len / 8;
    std::size_t b = 0;
    unsigned char *out[4] = {outdata[0], outdata[1], outdata[2], outdata[3]};
    for (; b + 16 <= blocks; b += 16) {
        // The plane lines eight runs ahead are asked for before they are
        // stored to; without it large surfaces wait on every line.
        for (unsigned char *plane : out) {
            _mm_prefetch(reinterpret_cast<const char *>(plane + 1536), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char *>(plane + 1536 + 64), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char *>(plane + 1536 + 128), _MM_HINT_T0);
        }
        decodeSixteen(data + 8 * b, out);
        for (unsigned char *&plane : out)
            plane += 192;
    }
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
