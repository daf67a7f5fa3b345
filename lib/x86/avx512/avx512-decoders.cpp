// AVX-512 (VBMI) decoder: four blocks per register, one in each 128-bit lane.
// Palettes are built in 16-bit lanes as in the other vector decoders, with
// colour k at bytes 4k to 4k + 2 of its block's lane, and for RGBA its alpha
// at byte 4k + 3. Rows need no table per index byte: a multishift brings each
// pixel's 2-bit index to bits 2-3 of a byte, which, merged with the block's
// lane and the colour component, is the byte's position in the palettes; a
// byte permute then gathers the pixels.
//
// Runs of sixteen blocks are gathered straight into 64-byte pieces of each
// plane (three for RGB, four for RGBA), so every store writes 64 new bytes.
// The last blocks go four at a time, with loads and stores masked to their
// exact size, so that nothing outside the input and the planes is touched.
// One kernel writes RGB and RGBA: the pixel size is a template parameter of
// the tables and the palettes, the colour rule one of the palettes alone.
//
// BC2 to BC5 run lane-channels.h's kernels with four 128-bit lanes a
// register (avx512-lanes.h): BC2 four blocks at a time, BC3 and BC4 eight,
// BC5 four. BC7 runs bc7-lanes.h's, four blocks of one mode at a time.
#include "bc6h-decoder.h"
#include "bc7-decoder.h"
#include "decoder-variants.h"

#ifdef HAVE_X86_VARIANTS

#include "avx512-lanes.h"

#include "lane-channels.h"

#include <cstdint>

namespace {

// Byte tables for the permutes and multishifts. "Lane q" is block q of a
// group of four; "stream byte s" is byte s of a plane's run of sixteen blocks
// (rowBytes, 12 or 16, per block).
template <unsigned PixelBytes>
struct Tables {
    static constexpr unsigned rowBytes = 4 * PixelBytes;  // of a block, in one plane
    static constexpr unsigned pieces = 16 * rowBytes / 64; // 64-byte stores per plane and run
    alignas(64) unsigned char spreadEndpoints[2][64]; // 16-bit lanes c0 c0 c0 c0 c1 c1 c1 c1, from blocks 4h..4h+3
    alignas(64) unsigned char quadIndices[64];        // a quad: the index bytes its row qwords need
    alignas(64) unsigned char quadShift[4][64];       // row yo of a quad: bit offset of each byte's index
    alignas(64) unsigned char quadBase[64];           // row byte rowBytes·q + PixelBytes·xo + c -> 16q + c
    alignas(64) unsigned char pieceIndices[pieces][64];  // piece p: the index bytes its qwords need
    alignas(64) unsigned char pieceShift[pieces][4][64]; // piece p, row yo: bit offset of each byte's index
    alignas(64) unsigned char pieceBase[pieces][64];     // piece p: 16 · (block - 4p) + c
};

// A multishift output byte is the 8 bits of its qword that start at the given
// bit offset, wrapping round the qword's end. Starting 2 bits below a pixel's
// index puts the index at bits 2-3, where positions() wants it; for the index
// at bits 0-1 the start wraps round to bit 62, whose bits land in bits 0-1
// and are masked off.
constexpr unsigned char shiftToBitsTwoAndThree(unsigned bit)
{
    return static_cast<unsigned char>((bit + 64 - 2) % 64);
}

// A worked example, the RGB quad tables for output byte j = 12 of row yo = 1:
// it is stream byte 12, the red (c = 0) of pixel xo = 0 of block own = 1. The
// multishift reads it from qword 12 / 8 = 1 of the index source, whose first
// output byte (8) lies in block first = 0; so that qword holds block 0's
// index bytes, then block 1's: quadIndices[8..15] = 4 5 6 7 12 13 14 15.
// Row 1 of block 1 is byte 4 · (own - first) + yo = 5 of the qword, pixel 0
// its bits 0-1, which is bit 40: quadShift[1][12] = 38. Block 1's palette
// fills bytes 16-31 of the palettes, red of colour k at 16 + 4k, so
// quadBase[12] = 16, and the index, at bits 2-3, adds the 4k.
template <unsigned PixelBytes>
constexpr Tables<PixelBytes> makeTables()
{
    constexpr unsigned rowBytes = Tables<PixelBytes>::rowBytes;
    Tables<PixelBytes> t{};
    const unsigned char endpointBytes[8] = {0, 0, 0, 0, 2, 2, 2, 2};
    for (unsigned h = 0; h < 2; ++h)
        for (unsigned j = 0; j < 64; ++j)
            t.spreadEndpoints[h][j] = static_cast<unsigned char>(32 * h + 8 * (j / 16) + endpointBytes[(j % 16) / 2] + j % 2);
    // A multishift reads, for output byte j, qword j / 8 of its source. Qword i of
    // an index source therefore holds rows 0-3 of the first block that output
    // bytes 8i to 8i + 7 touch, then rows 0-3 of the next block.
    // A quad's row is stream bytes 0 to 4 · rowBytes - 1 of blocks 0-3.
    for (unsigned j = 0; j < 64; ++j) {
        const unsigned first = (8 * (j / 8)) / rowBytes, block = first + (j % 8) / 4;
        t.quadIndices[j] = static_cast<unsigned char>(8 * (block < 4 ? block : 3) + 4 + j % 4);
        const unsigned own = (j / rowBytes) % 4, xo = (j % rowBytes) / PixelBytes;
        // RGB bytes 48-63 are never stored; "& 1" only keeps their offsets in range.
        for (unsigned yo = 0; yo < 4; ++yo)
            t.quadShift[yo][j] = shiftToBitsTwoAndThree(8 * (4 * ((own - first) & 1) + yo) + 2 * xo);
        t.quadBase[j] = static_cast<unsigned char>(16 * own + j % PixelBytes);
    }
    // Piece p of sixteen blocks is stream bytes 64p to 64p + 63.
    for (unsigned p = 0; p < Tables<PixelBytes>::pieces; ++p)
        for (unsigned j = 0; j < 64; ++j) {
            const unsigned i = j / 8, first = (64 * p + 8 * i) / rowBytes;
            const unsigned block = first + (j % 8) / 4, row = j % 4;
            t.pieceIndices[p][j] = static_cast<unsigned char>(8 * (block < 16 ? block : 15) + 4 + row);
            const unsigned s = 64 * p + j, own = s / rowBytes, xo = (s % rowBytes) / PixelBytes, c = s % PixelBytes;
            t.pieceBase[p][j] = static_cast<unsigned char>(16 * (own - 4 * p) + c);
            for (unsigned yo = 0; yo < 4; ++yo)
                t.pieceShift[p][yo][j] = shiftToBitsTwoAndThree(8 * (4 * (own - first) + yo) + 2 * xo);
        }
    return t;
}

template <unsigned PixelBytes>
struct TablesFor {
    static constexpr Tables<PixelBytes> tables = makeTables<PixelBytes>();
};
template <unsigned PixelBytes>
constexpr Tables<PixelBytes> TablesFor<PixelBytes>::tables;

constexpr bool allBelow(const unsigned char (&bytes)[64], unsigned limit)
{
    for (unsigned char byte : bytes)
        if (byte >= limit)
            return false;
    return true;
}

// A quad is loaded into the low 256 bits only, the rest undefined: what reads
// it must pick bytes below 32. Palette positions must stay inside the two
// palette registers a piece permutes from (and a quad's inside one); an RGBA
// piece's inside its own quad's.
template <unsigned PixelBytes>
constexpr bool positionsInRange()
{
    const Tables<PixelBytes> &t = TablesFor<PixelBytes>::tables;
    bool inRange = allBelow(t.spreadEndpoints[0], 32) && allBelow(t.quadIndices, 32) && allBelow(t.quadBase, 64 - 12);
    for (const auto &base : t.pieceBase)
        inRange = inRange && allBelow(base, (PixelBytes == kRgbaBytes ? 64 : 128) - 12);
    return inRange;
}
static_assert(positionsInRange<kRgbBytes>() && positionsInRange<kRgbaBytes>(),
              "permutes must read the loaded quad and palette positions (base + 4 · index) stay in their registers");
static_assert(TablesFor<kRgbBytes>::tables.quadIndices[12] == 12 && TablesFor<kRgbBytes>::tables.quadShift[1][12] == 38 &&
                  TablesFor<kRgbBytes>::tables.quadBase[12] == 16,
              "the worked example above");


// The plane lines of the run eight runs ahead (8 · 192 bytes for RGB) are
// asked for before they are stored to; without it large surfaces wait on
// every line.
constexpr std::uintptr_t kPrefetchRuns = 8;

template <unsigned PixelBytes>
VARIANT_TARGET inline void prefetchRunAhead(const unsigned char *plane)
{
    constexpr std::uintptr_t runBytes = 16 * Tables<PixelBytes>::rowBytes;
    // An integer, not a pointer, since the address may lie past the plane.
    const std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(plane) + kPrefetchRuns * runBytes;
    for (std::uintptr_t line = 0; line < runBytes; line += 64)
        _mm_prefetch(reinterpret_cast<const char *>(ahead + line), _MM_HINT_T0);
}

VARIANT_TARGET inline __m512i load(const unsigned char *p)
{
    return _mm512_load_si512(reinterpret_cast<const void *>(p));
}

// The palettes of blocks 4h to 4h + 3 of the eight blocks in `blocks`, under
// either colour rule (the multipliers and roundings of lane-palettes.h).
template <unsigned PixelBytes, ColourRule Rule>
VARIANT_TARGET inline __m512i quadPalettes(__m512i blocks, unsigned h)
{
    constexpr bool gpu = Rule == ColourRule::gpu;
    // Per block, 16-bit lanes 0-2 hold c0's components and 4-6 c1's; lanes 3
    // and 7 hold the alpha of RGBA, 255 in both endpoints.
    const __m512i fieldMask = _mm512_broadcast_i32x4(
        _mm_setr_epi16(kRedMask, kGreenMask, kBlueMask, 0, kRedMask, kGreenMask, kBlueMask, 0));
    const __m512i high = gpu ? _mm512_broadcast_i32x4(_mm_setr_epi16(kRedHighCopied, kGreenHighCopied, kBlueHighCopied, 0,
                                                                     kRedHighCopied, kGreenHighCopied, kBlueHighCopied, 0))
                             : _mm512_broadcast_i32x4(_mm_setr_epi16(kRedHigh, kGreenHigh, 0, 0, kRedHigh, kGreenHigh, 0, 0));
    const __m512i low = _mm512_broadcast_i32x4(_mm_setr_epi16(0, 0, kBlueLow, 0, 0, 0, kBlueLow, 0));
    const __m512i alpha = _mm512_broadcast_i32x4(_mm_setr_epi16(0, 0, 0, 255, 0, 0, 0, 255));
    // The lanes computed from both endpoints: the colour, and for RGBA the alpha.
    const __mmask32 firstEndpointLanes = PixelBytes == kRgbaBytes ? 0x0F0F0F0F : 0x07070707;

    const __m512i raw = _mm512_permutexvar_epi8(load(TablesFor<PixelBytes>::tables.spreadEndpoints[h]), blocks);
    // Expansion by masks and multipliers, as palette-layout.h explains.
    const __m512i fields = _mm512_and_si512(raw, fieldMask);
    __m512i e = _mm512_or_si512(_mm512_mulhi_epu16(fields, high), _mm512_mullo_epi16(fields, low));
    if (PixelBytes == kRgbaBytes)
        e = _mm512_or_si512(e, alpha);
    const __m512i swapped = _mm512_shuffle_epi32(e, _MM_PERM_BADC);

    // Four-colour mode: (2·e0 + e1) / 3 and (e0 + 2·e1) / 3 (gpu: rounded);
    // alpha stays 255.
    const __m512i sums = _mm512_add_epi16(_mm512_add_epi16(e, e), swapped);
    const __m512i thirds = gpu ? _mm512_mulhrs_epi16(sums, _mm512_set1_epi16(kOneThirdRounded))
                               : _mm512_mulhi_epu16(sums, _mm512_set1_epi16(kOneThird));
    // Three-colour mode: (e0 + e1) >> 1 (gpu: rounded; alpha 255), then black (alpha 0).
    const __m512i half = _mm512_maskz_mov_epi16(
        firstEndpointLanes, gpu ? _mm512_avg_epu16(e, swapped) : _mm512_srli_epi16(_mm512_add_epi16(e, swapped), 1));

    // c0 > c1 (unsigned) in lanes 0-2 (or 0-3) of each block, copied to lanes 4-6 (or 4-7).
    const __mmask32 greater = _mm512_cmpgt_epu16_mask(raw, _mm512_shuffle_epi32(raw, _MM_PERM_BADC)) & firstEndpointLanes;
    const __m512i generated = _mm512_mask_mov_epi16(half, greater | (greater << 4), thirds);
    return _mm512_packus_epi16(e, generated);
}

// Palette positions from index bits brought to bits 2-3 (kColourIndexBits): (bits & 0x0C) | base.
VARIANT_TARGET inline __m512i positions(__m512i shifted, __m512i base)
{
    return _mm512_ternarylogic_epi32(shifted, _mm512_set1_epi8(kColourIndexBits), base, kAndOrTable);
}

// Row yo of a quad (4 · rowBytes bytes), from its palettes and its index source.
template <unsigned PixelBytes>
VARIANT_TARGET inline __m512i quadRow(__m512i palettes, __m512i indexBytes, unsigned yo)
{
    const Tables<PixelBytes> &t = TablesFor<PixelBytes>::tables;
    const __m512i indices = _mm512_multishift_epi64_epi8(load(t.quadShift[yo]), indexBytes);
    return _mm512_permutexvar_epi8(positions(indices, load(t.quadBase)), palettes);
}

// Sixteen blocks: 64-byte pieces per plane, each gathered from the palettes of
// the two quads its blocks belong to (RGB), or of its own quad (RGBA).
template <unsigned PixelBytes, ColourRule Rule>
VARIANT_TARGET inline void decodeSixteen(const unsigned char *data, unsigned char *const out[4])
{
    const Tables<PixelBytes> &t = TablesFor<PixelBytes>::tables;
    const __m512i low = _mm512_loadu_si512(data), high = _mm512_loadu_si512(data + 64);
    const __m512i palettes[4] = {quadPalettes<PixelBytes, Rule>(low, 0), quadPalettes<PixelBytes, Rule>(low, 1),
                                 quadPalettes<PixelBytes, Rule>(high, 0), quadPalettes<PixelBytes, Rule>(high, 1)};
    for (unsigned p = 0; p < Tables<PixelBytes>::pieces; ++p) {
        const __m512i indexBytes = _mm512_permutex2var_epi8(low, load(t.pieceIndices[p]), high);
        const __m512i base = load(t.pieceBase[p]);
        for (unsigned yo = 0; yo < 4; ++yo) {
            const __m512i positioned = positions(_mm512_multishift_epi64_epi8(load(t.pieceShift[p][yo]), indexBytes), base);
            const __m512i pixels = PixelBytes == kRgbaBytes
                                       ? _mm512_permutexvar_epi8(positioned, palettes[p])
                                       : _mm512_permutex2var_epi8(palettes[p], positioned, palettes[p + 1]);
            _mm512_storeu_si512(out[yo] + 64 * p, pixels);
        }
    }
}

template <unsigned PixelBytes, ColourRule Rule>
VARIANT_TARGET inline void decodeQuad(__m512i quad, unsigned char *const out[4], __mmask64 rowBytes)
{
    const __m512i palettes = quadPalettes<PixelBytes, Rule>(quad, 0);
    const __m512i indexBytes = _mm512_permutexvar_epi8(load(TablesFor<PixelBytes>::tables.quadIndices), quad);
    for (unsigned yo = 0; yo < 4; ++yo)
        _mm512_mask_storeu_epi8(out[yo], rowBytes, quadRow<PixelBytes>(palettes, indexBytes, yo));
}

// The first `bytes` (at most 64) bytes of a mask.
VARIANT_TARGET inline __mmask64 firstBytes(unsigned bytes)
{
    return bytes >= 64 ? ~__mmask64(0) : (__mmask64(1) << bytes) - 1;
}

template <unsigned PixelBytes, ColourRule Rule>
VARIANT_TARGET inline void decodeBlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    constexpr unsigned rowBytes = Tables<PixelBytes>::rowBytes;
    const std::size_t blocks = len / 8;
    std::size_t b = 0;
    unsigned char *out[4] = {outdata[0], outdata[1], outdata[2], outdata[3]};
    for (; b + 16 <= blocks; b += 16) {
        for (unsigned char *plane : out)
            prefetchRunAhead<PixelBytes>(plane);
        decodeSixteen<PixelBytes, Rule>(data + 8 * b, out);
        for (unsigned char *&plane : out)
            plane += 16 * rowBytes;
    }
    const __mmask64 fullRows = firstBytes(4 * rowBytes);
    for (; b + 4 <= blocks; b += 4) {
        const __m512i quad = _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(data + 8 * b)));
        decodeQuad<PixelBytes, Rule>(quad, out, fullRows);
        for (unsigned char *&plane : out)
            plane += 4 * rowBytes;
    }
    // The last one to three blocks: loads and stores masked to their exact size.
    if (const std::size_t rest = blocks - b) {
        const __m512i quad = _mm512_maskz_loadu_epi8(firstBytes(8 * rest), data + 8 * b);
        decodeQuad<PixelBytes, Rule>(quad, out, firstBytes(rowBytes * rest));
    }
}

// Worked examples of the channel cuts (avx512-lanes.h). BC4's value register
// 0 holds row 0 of both blocks, then row 1: its byte 4 is block 1's pixel 0,
// the first byte cut from block 1 (byte 8), at bit 16 of that block.
// BC3's register 1 holds block 1's sixteen alphas alone: both qwords cut from it.
static_assert(ChannelCutTablesFor<ChannelRowLayout<1>>::tables.order[0][4] == 8 &&
                  ChannelCutTablesFor<ChannelRowLayout<1>>::tables.cut[0][8] == 16 &&
                  ChannelCutTablesFor<ChannelRowLayout<1>>::tables.block[0][8] == 8,
              "the BC4 example above");
static_assert(ChannelCutTablesFor<ChannelColumnPairLayout>::tables.low[1] == 1 &&
                  ChannelCutTablesFor<ChannelColumnPairLayout>::tables.high[1] == 1 &&
                  !ChannelCutTablesFor<ChannelColumnPairLayout>::tables.reordered[1],
              "the BC3 example above");

constexpr ColourRule design = ColourRule::design, gpu = ColourRule::gpu;

} // namespace

const DecoderTable avx512Decoders = {{
    /* bc1  */ {decodeBlocks<kRgbBytes, design>, decodeBlocks<kRgbBytes, gpu>},
    /* bc1a */ {decodeBlocks<kRgbaBytes, design>, decodeBlocks<kRgbaBytes, gpu>},
    /* bc2  */ {decodeBC2<Avx512, design>, decodeBC2<Avx512, gpu>},
    /* bc3  */ {decodeBC3<Avx512, design>, decodeBC3<Avx512, gpu>},
    /* bc4  */ {decodeBC4<Avx512, design, false>, decodeBC4<Avx512, gpu, false>},
    /* bc4s */ {decodeBC4<Avx512, design, true>, decodeBC4<Avx512, gpu, true>},
    /* bc5  */ {decodeBC5<Avx512, design, false>, decodeBC5<Avx512, gpu, false>},
    /* bc5s */ {decodeBC5<Avx512, design, true>, decodeBC5<Avx512, gpu, true>},
    /* bc7  */ {decodeBC7BlocksAVX512, decodeBC7BlocksAVX512},
    /* bc6h */ {decodeBC6HBlocksAVX512, decodeBC6HBlocksAVX512},
    /* bc6hs */ {decodeBC6HSBlocksAVX512, decodeBC6HSBlocksAVX512},
}};

#endif
