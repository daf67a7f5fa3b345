// The AVX-512 variant's vector operations, for its kernels of every format.
#ifndef AVX512_LANES_H
#define AVX512_LANES_H

// GCC 12 warns about the deliberately undefined pass-through values inside
// its own AVX-512 intrinsics; the warnings are placed in its headers, so they
// are silenced there alone.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include <cstdint>

#define VARIANT_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi")))

#include "palette-layout.h"
#include "x86/x86-lanes.h"

namespace {

// Truth tables of vpternlog for operands (a, b, c): bits where a is set
// from b, elsewhere from c; and (a & b) | c.
constexpr int kSelectTable = 0xCA, kAndOrTable = 0xEA;
// Where the cuts put an index: a colour index at bits 2-3 of its byte (4 ·
// index, a colour's offset in a linear palette), a 3-bit channel index at bits 0-2.
constexpr unsigned char kColourIndexBits = 0x0C, kChannelIndexBits = 0x07;

// A block's colour rows at once, one block per 128-bit lane: its packed
// palette (palette-layout.h) laid out again with colour k at bytes 4k to
// 4k + 2 and its alpha at 4k + 3, so that pixel xo's byte c of a row is at
// 4·index + c. A multishift brings each pixel's 2-bit index (its row's
// index byte, among bytes 12-15 of the block, copied to both halves of the
// lane) to bits 2-3 of the pixel's bytes, and c is merged in below them.
struct WholeRowTables {
    alignas(16) unsigned char layout[16];      // linear byte -> packed byte
    alignas(16) unsigned char shift[4][16];    // row yo: per byte, 2 bits below its index in the qword
    alignas(16) unsigned char channel[16];     // per byte, c
};

constexpr WholeRowTables makeWholeRowTables()
{
    WholeRowTables t{};
    for (unsigned j = 0; j < 16; ++j) {
        const unsigned k = j / 4, c = j % 4, xo = j / 4;
        t.layout[j] = c < 3 ? static_cast<unsigned char>(kPackedColourOffset[k] + c) : kPackedAlphaOffset[k];
        t.channel[j] = static_cast<unsigned char>(c);
        // The index bytes 12-15 are bytes 4-7 of the lane's high qword, copied to its low one.
        for (unsigned yo = 0; yo < 4; ++yo)
            t.shift[yo][j] = static_cast<unsigned char>(8 * (4 + yo) + 2 * xo - 2);
    }
    return t;
}
alignas(64) constexpr WholeRowTables kWholeRowTables = makeWholeRowTables();
// A worked example, byte 5 of row 1: pixel 1's green. Its index is bits 2-3
// of row 1's index byte, block byte 13, which is byte 5 of the lane's high
// qword (bits 40-47): bit 42; the cut starts 2 bits below, at 40. Colour k's
// green is packed at kPackedColourOffset[k] + 1, so linear byte 5 (colour 1)
// reads packed byte 4.
static_assert(kWholeRowTables.shift[1][5] == 40 && kWholeRowTables.layout[5] == 4 &&
                  kWholeRowTables.channel[5] == 1,
              "the worked example above");

// Channel indices (lane-channels.h) by multishift: each 8-byte channel block
// holds its sixteen 3-bit indices at bits 16 + 3k of one qword, so a
// multishift cuts eight of them at once into the bytes of the qword it is
// given. Value register r's bytes are first made in "cut order": the low
// qword from channel block low[r] (the bytes of the Layout's order that
// block serves, in that order), the high one from block high[r]; a byte
// shuffle then puts them in the Layout's order, where that differs.
struct ChannelCutTables {
    alignas(16) unsigned char cut[2][16];   // per register: each byte's index's bit offset in its qword
    alignas(16) unsigned char block[2][16]; // 8 where channel block 1's palette (bytes 8-15) serves
    alignas(16) unsigned char order[2][16]; // the Layout's byte -> its byte in cut order
    unsigned char low[2], high[2];
    bool reordered[2];
};

template <class Layout>
constexpr ChannelCutTables makeChannelCutTables()
{
    ChannelCutTables t{};
    for (unsigned r = 0; r < 2; ++r) {
        unsigned served[2] = {}; // bytes of the Layout's order each channel block serves
        for (unsigned byte = 0; byte < 16; ++byte)
            ++served[Layout::place(r, byte).block];
        t.low[r] = served[0] >= 8 ? 0 : 1;
        t.high[r] = served[1] >= 8 ? 1 : 0;
        unsigned next[2] = {0, 8}; // the next cut byte of each qword
        t.reordered[r] = false;
        for (unsigned byte = 0; byte < 16; ++byte) {
            const auto place = Layout::place(r, byte);
            const unsigned q = place.block == t.low[r] && next[0] < 8 ? 0 : 1;
            const unsigned g = next[q]++;
            t.cut[r][g] = static_cast<unsigned char>(16 + 3 * place.pixel);
            t.block[r][g] = static_cast<unsigned char>(8 * place.block);
            t.order[r][byte] = static_cast<unsigned char>(g);
            t.reordered[r] = t.reordered[r] || g != byte;
        }
    }
    return t;
}
// Each cut byte's index lies in the channel block its qword is given: the
// Layout takes eight bytes from each block, or all sixteen from one.
constexpr bool cutsFromTheirBlocks(const ChannelCutTables &t)
{
    for (unsigned r = 0; r < 2; ++r)
        for (unsigned g = 0; g < 16; ++g)
            if (t.block[r][g] != 8 * (g < 8 ? t.low[r] : t.high[r]))
                return false;
    return true;
}

template <class Layout>
struct ChannelCutTablesFor {
    static constexpr ChannelCutTables tables = makeChannelCutTables<Layout>();
    static_assert(cutsFromTheirBlocks(tables), "a multishift reads only the qword it is given");
};
template <class Layout>
constexpr ChannelCutTables ChannelCutTablesFor<Layout>::tables;

// Four 128-bit lanes: the operations the lane kernels (lane-palettes.h,
// lane-channels.h) and BC7's (bc7-lanes.h) need. Comparisons give vectors
// of all-ones elements, as the kernels expect, and selections take them.
struct Avx512 : X86Compositions<Avx512> {
    typedef __m512i Vector;
    static constexpr unsigned kLanes = 4;
    VARIANT_TARGET static Vector lanes(const void *pattern)
    {
        return _mm512_broadcast_i32x4(_mm_load_si128(static_cast<const __m128i *>(pattern)));
    }
    // A table of constants as it is, its values seen by the compiler.
    template <class T>
    VARIANT_TARGET static const T &opaque(const T &table) { return table; }
    // A constant of every lane, stored for each (lane-palettes.h).
    VARIANT_TARGET static Vector wholeLanes(const void *pattern) { return _mm512_load_si512(pattern); }
    VARIANT_TARGET static Vector load(const unsigned char *p) { return _mm512_loadu_si512(p); }
    VARIANT_TARGET static __m128i lane(Vector a, unsigned l)
    {
        switch (l) {
        case 0: return _mm512_castsi512_si128(a);
        case 1: return _mm512_extracti32x4_epi32(a, 1);
        case 2: return _mm512_extracti32x4_epi32(a, 2);
        default: return _mm512_extracti32x4_epi32(a, 3);
        }
    }
    VARIANT_TARGET static Vector zero() { return _mm512_setzero_si512(); }
    VARIANT_TARGET static Vector bitAnd(Vector a, Vector b) { return _mm512_and_si512(a, b); }
    VARIANT_TARGET static Vector bitOr(Vector a, Vector b) { return _mm512_or_si512(a, b); }
    VARIANT_TARGET static Vector bitXor(Vector a, Vector b) { return _mm512_xor_si512(a, b); }
    VARIANT_TARGET static Vector andNot(Vector mask, Vector b) { return _mm512_andnot_si512(mask, b); }
    VARIANT_TARGET static Vector add(Vector a, Vector b) { return _mm512_add_epi16(a, b); }
    VARIANT_TARGET static Vector halve(Vector a) { return _mm512_srli_epi16(a, 1); }
    VARIANT_TARGET static Vector average(Vector a, Vector b) { return _mm512_avg_epu16(a, b); }
    template <int Bits>
    VARIANT_TARGET static Vector shiftRightWords(Vector a) { return _mm512_srli_epi16(a, Bits); }
    template <int Bits>
    VARIANT_TARGET static Vector shiftRightQuads(Vector a) { return _mm512_srli_epi64(a, Bits); }
    VARIANT_TARGET static Vector mulhi(Vector a, Vector b) { return _mm512_mulhi_epu16(a, b); }
    VARIANT_TARGET static Vector mulhiRound(Vector a, Vector b) { return _mm512_mulhrs_epi16(a, b); }
    VARIANT_TARGET static Vector mullo(Vector a, Vector b) { return _mm512_mullo_epi16(a, b); }
    VARIANT_TARGET static Vector multiplyAddBytes(Vector a, Vector b) { return _mm512_maddubs_epi16(a, b); }
    VARIANT_TARGET static Vector subtractSaturated(Vector a, Vector b) { return _mm512_subs_epu16(a, b); }
    // What signed channel values take with mask registers (signedValues,
    // roundedSignedValueBytes, lane-channels.h): a signed multiply-high and
    // shift, bytes of -1 made 0, and a masked increment.
    VARIANT_TARGET static Vector mulhiSigned(Vector a, Vector b) { return _mm512_mulhi_epi16(a, b); }
    template <int Bits>
    VARIANT_TARGET static Vector shiftRightWordsSigned(Vector a) { return _mm512_srai_epi16(a, Bits); }
    // Unsigned bytes plus 1 where at least `bound`.
    VARIANT_TARGET static Vector incrementWhereAtLeast(Vector a, unsigned char bound)
    {
        return _mm512_mask_sub_epi8(a, _mm512_cmpge_epu8_mask(a, splatBytes(bound)), a, _mm512_set1_epi32(-1));
    }
    VARIANT_TARGET static Vector zeroWhereAllOnes(Vector a)
    {
        return _mm512_maskz_mov_epi8(_mm512_cmpneq_epi8_mask(a, _mm512_set1_epi32(-1)), a);
    }
    VARIANT_TARGET static Vector packSigned(Vector a, Vector b) { return _mm512_packs_epi16(a, b); }
    // Signed bytes raised to `lowest` where below it.
    VARIANT_TARGET static Vector atLeast(Vector a, Vector lowest) { return _mm512_max_epi8(a, lowest); }
    VARIANT_TARGET static Vector subtractBytes(Vector a, Vector b) { return _mm512_sub_epi8(a, b); }
    // x where a > b, else y; and s | x where not: compared in 32-bit lanes,
    // whose two 16-bit lanes the callers keep alike, so that the mask drives
    // a blend and a masked OR directly, with no vector made of it.
    VARIANT_TARGET static Vector selectWhereGreater(Vector a, Vector b, Vector x, Vector y)
    {
        return _mm512_mask_blend_epi32(_mm512_cmpgt_epi32_mask(a, b), y, x);
    }
    VARIANT_TARGET static Vector orWhereNotGreater(Vector a, Vector b, Vector s, Vector x)
    {
        return _mm512_mask_or_epi32(s, _mm512_cmple_epi32_mask(a, b), s, x);
    }
    VARIANT_TARGET static Vector isZero(Vector a) { return _mm512_movm_epi16(_mm512_testn_epi16_mask(a, a)); }
    VARIANT_TARGET static Vector shuffle(Vector a, Vector pattern) { return _mm512_shuffle_epi8(a, pattern); }
    VARIANT_TARGET static Vector pack(Vector a, Vector b) { return _mm512_packus_epi16(a, b); }
    VARIANT_TARGET static Vector unpackLow64(Vector a, Vector b) { return _mm512_unpacklo_epi64(a, b); }
    // Bitwise: a where the mask's bits are set, b elsewhere.
    VARIANT_TARGET static Vector select(Vector mask, Vector a, Vector b) { return _mm512_ternarylogic_epi32(mask, a, b, kSelectTable); }
    // Bytes 0-7 of each lane to `first`, 8-15 of each to `second`.
    VARIANT_TARGET static void storeRowHalves(unsigned char *first, unsigned char *second, Vector a)
    {
        const Vector rows = _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(first), _mm512_castsi512_si256(rows));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(second), _mm512_extracti64x4_epi64(rows, 1));
    }
    // What BC7's kernel adds (bc7-lanes.h).
    // A 16-byte pattern at any address, in every lane.
    VARIANT_TARGET static Vector pattern(const void *p) { return _mm512_broadcast_i32x4(loadLane(p)); }
    VARIANT_TARGET static Vector perLane(const void *const patterns[kLanes])
    {
        const __m256i low = _mm256_inserti128_si256(_mm256_castsi128_si256(loadLane(patterns[0])), loadLane(patterns[1]), 1);
        const __m256i high = _mm256_inserti128_si256(_mm256_castsi128_si256(loadLane(patterns[2])), loadLane(patterns[3]), 1);
        return _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
    }
    VARIANT_TARGET static Vector blocks(const unsigned char *const blocks[kLanes])
    {
        const void *const patterns[kLanes] = {blocks[0], blocks[1], blocks[2], blocks[3]};
        return perLane(patterns);
    }
    VARIANT_TARGET static Vector fromIntegers(const std::uint64_t integers[kLanes])
    {
        return _mm512_set_epi64(0, static_cast<long long>(integers[3]), 0, static_cast<long long>(integers[2]), 0,
                                static_cast<long long>(integers[1]), 0, static_cast<long long>(integers[0]));
    }
    VARIANT_TARGET static Vector splatWords(std::uint16_t value) { return _mm512_set1_epi16(static_cast<short>(value)); }
    VARIANT_TARGET static Vector splatBytes(unsigned char value) { return _mm512_set1_epi8(static_cast<char>(value)); }
    VARIANT_TARGET static Vector interleaveLowBytes(Vector a, Vector b) { return _mm512_unpacklo_epi8(a, b); }
    VARIANT_TARGET static Vector interleaveHighBytes(Vector a, Vector b) { return _mm512_unpackhi_epi8(a, b); }
    VARIANT_TARGET static Vector unpackHigh64(Vector a, Vector b) { return _mm512_unpackhi_epi64(a, b); }
    // A lane without a block of its own repeats its neighbour's, so equal
    // stores to one place are harmless.
    VARIANT_TARGET static void storeLanes(Vector v, unsigned char *const at[kLanes])
    {
        for (unsigned l = 0; l < kLanes; ++l)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(at[l]), lane(v, l));
    }
    // Per-word shift counts (vpsllvw): one instruction, as the multiply is,
    // with a shorter latency.
    VARIANT_TARGET static Vector shiftLeft16(Vector v, const std::uint16_t *, const std::int16_t *counts)
    {
        return _mm512_sllv_epi16(v, pattern(counts));
    }

    // Colour rows of every lane at once and channel indices by multishift
    // (lane-channels.h), with the tables above.
    static constexpr bool kMultishift = true;
    static constexpr bool kMaskRegisters = true;
    struct ColourRows {
        Vector palettes, indices;
    };
    // From the packed palettes and the 16-byte blocks (BC2, BC3), one per lane.
    VARIANT_TARGET static ColourRows colourRows(Vector packed, Vector blocks)
    {
        return {shuffle(packed, pattern(kWholeRowTables.layout)), unpackHigh64(blocks, blocks)};
    }
    VARIANT_TARGET static Vector colourRow(const ColourRows &rows, unsigned yo)
    {
        const Vector shifted = _mm512_multishift_epi64_epi8(pattern(kWholeRowTables.shift[yo]), rows.indices);
        const Vector positions = _mm512_ternarylogic_epi32(shifted, splatBytes(kColourIndexBits), pattern(kWholeRowTables.channel),
                                                           kAndOrTable);
        return shuffle(rows.palettes, positions);
    }
    VARIANT_TARGET static void storeWhole(unsigned char *out, Vector v) { _mm512_storeu_si512(out, v); }
    // Channel indices of the two channel blocks of each lane of `blocks`,
    // as palette positions (block 1's plus 8), in Layout's order.
    template <class Layout>
    VARIANT_TARGET static Vector channelIndices(Vector blocks, unsigned r)
    {
        const ChannelCutTables &t = ChannelCutTablesFor<Layout>::tables;
        const Vector source = t.low[r] == 0 && t.high[r] == 1 ? blocks
                              : t.low[r] == 0 && t.high[r] == 0 ? unpackLow64(blocks, blocks)
                              : t.low[r] == 1 && t.high[r] == 1 ? unpackHigh64(blocks, blocks)
                                                                : _mm512_shuffle_epi32(blocks, _MM_PERM_BADC);
        const Vector cut = _mm512_multishift_epi64_epi8(pattern(t.cut[r]), source);
        const Vector positions = _mm512_ternarylogic_epi32(cut, splatBytes(kChannelIndexBits), pattern(t.block[r]), kAndOrTable);
        return t.reordered[r] ? shuffle(positions, pattern(t.order[r])) : positions;
    }

private:
    VARIANT_TARGET static __m128i loadLane(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
};

} // namespace

#endif
