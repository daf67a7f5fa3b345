// The BC6H decoder of the vector variants, written once for every register
// width, as BC7's is (bc7-lanes.h, whose index and weight steps it shares):
// each 128-bit lane decodes a block of its own, and a run is taken a chunk
// at a time with its blocks grouped by mode, each mode's blocks decoded by
// code made for that mode alone.
//
// In a lane, a block becomes:
// - its endpoints, with scalar code: the mode's layout (bc6h-tables.h) is
//   known at compile time, so each run is a shift and a mask; then the
//   transform, the sign extension and the unquantisation, to 16-bit words,
//   the unsigned form's offset by −0x8000 so that both forms are signed
//   words. They are stored as a table of word pairs (endpoint 0, endpoint
//   1) per channel, one table per region;
// - its weights, as BC7's: a byte a pixel;
// - per row, three groups of four (pixel, channel) outputs, each gathering
//   its endpoint pair (a shuffle from the partition's pattern) and its
//   weight pair (64 − w, w); one multiply-add of word pairs gives
//   (64 − w)·a + w·b in 32 bits, then the rounding shift and the final
//   scaling to a half, packed to words and stored (24 bytes a row).
//
// The including file compiles this for its own instruction set: it defines
// VARIANT_TARGET and includes bc7-lanes.h first.
#ifndef BC6H_LANES_H
#define BC6H_LANES_H

#ifndef BC7_LANES_H
#error "include bc7-lanes.h before bc6h-lanes.h"
#endif

#include "bc6h-tables.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace {
namespace bc6h {

constexpr std::size_t kRowBytes = 4 * kBc6hChannels * 2; // four pixels of three halves
constexpr unsigned char kZeroLane = 0x80;
constexpr unsigned kRegionBytes = kBc6hChannels * 4; // three word pairs
constexpr int kUnsignedOffset = 0x8000;             // unsigned values as signed words

// Per partition, row and group of four outputs (pixel 4·row + o / 3, channel
// o % 3 for output o of the row), each output dword's four bytes: its
// region's word pair for its channel. The second region's bytes start at
// `secondBase` (V::kThirdSubsetSlots, where V's lookup of two tables finds the
// second). One region: partition 0's pixels are all in region 0 below.
template <unsigned secondBase>
struct PairSlots {
    unsigned char slots[kBc6hPartitions][4][3][16];
};

template <unsigned secondBase>
constexpr PairSlots<secondBase> pairSlots(bool oneRegion)
{
    PairSlots<secondBase> t{};
    for (unsigned p = 0; p < kBc6hPartitions; ++p)
        for (unsigned row = 0; row < 4; ++row)
            for (unsigned g = 0; g < 3; ++g)
                for (unsigned b = 0; b < 16; ++b) {
                    const unsigned output = 4 * g + b / 4, pixel = 4 * row + output / kBc6hChannels;
                    const unsigned channel = output % kBc6hChannels;
                    const unsigned region = oneRegion ? 0 : Bc7Tables::partitions2[p][pixel];
                    t.slots[p][row][g][b] = static_cast<unsigned char>((region ? secondBase : 0) + 4 * channel + b % 4);
                }
    return t;
}

template <unsigned secondBase>
constexpr PairSlots<secondBase> kTwoRegionSlots = pairSlots<secondBase>(false);
template <unsigned secondBase>
constexpr PairSlots<secondBase> kOneRegionSlots = pairSlots<secondBase>(true);

// Per row and group, each output dword's weight pair as two zero-extended
// words, from the byte pairs (64 − w, w) of pixels 0-7 (rows 0 and 1) or
// 8-15 (rows 2 and 3).
struct WeightSpreads {
    unsigned char spread[4][3][16];
};

constexpr WeightSpreads weightSpreads()
{
    WeightSpreads t{};
    for (unsigned row = 0; row < 4; ++row)
        for (unsigned g = 0; g < 3; ++g)
            for (unsigned b = 0; b < 16; ++b) {
                const unsigned output = 4 * g + b / 4, pixel = 4 * row + output / kBc6hChannels;
                t.spread[row][g][b] = b % 2 ? kZeroLane : static_cast<unsigned char>(2 * (pixel % 8) + b % 4 / 2);
            }
    return t;
}

alignas(64) constexpr WeightSpreads kWeightSpreads = weightSpreads();

// The low `bits` bits of v as a two's complement number.
inline int signExtend(unsigned v, unsigned bits)
{
    const unsigned sign = 1u << (bits - 1);
    return static_cast<int>((v & (2 * sign - 1)) ^ sign) - static_cast<int>(sign);
}

// Unquantisation to 16 bits (docs/formats.md): below 15 (unsigned) or 16
// (signed) bits, ((v << 16) + 0x8000) >> b is v << (16 − b) plus 2^(15 − b),
// and so is ((m << 15) + 0x4000) >> (b − 1) on the magnitude.
template <bool Signed, unsigned bits>
inline int unquantize(int v)
{
    if (!Signed) {
        if (bits >= 15)
            return v;
        const unsigned u = static_cast<unsigned>(v);
        if (u == 0)
            return 0;
        if (u == (1u << bits) - 1)
            return 0xFFFF;
        return static_cast<int>((u << (16 - bits % 16)) + (0x8000u >> bits));
    }
    if (bits >= 16)
        return v;
    const unsigned magnitude = static_cast<unsigned>(v < 0 ? -v : v);
    unsigned q = (magnitude << (16 - bits % 16)) + (0x8000u >> bits);
    if (magnitude == 0)
        q = 0;
    else if (magnitude >= (1u << (bits - 1)) - 1)
        q = 0x7FFF;
    return v < 0 ? -static_cast<int>(q) : static_cast<int>(q);
}

// The end of every mode's runs.
template <unsigned I, unsigned start>
struct RunsEnd {
    static void read(std::uint64_t, std::uint64_t, unsigned *) {}
};

// What one block of mode I becomes in scalar code: its endpoint pair tables
// (region 0's, then region 1's, as words) and its packed indices.
struct Fields {
    alignas(16) std::int16_t pairs[2][8];
    std::uint64_t indices;
    unsigned partition;
};

// Run r of mode I's layout, which starts at bit `start`, then the rest: each
// into its component, in place.
template <unsigned I, unsigned r, unsigned start>
struct Runs {
    static void read(std::uint64_t low, std::uint64_t high, unsigned stored[kBc6hComponents])
    {
        constexpr Bc6hRun run = Bc6hTables::modes[I].runs[r];
        constexpr unsigned count = (run.a > run.b ? run.a - run.b : run.b - run.a) + 1u;
        const unsigned bits = static_cast<unsigned>(bc7::blockBits<start, count>(low, high));
        if (run.a >= run.b) {
            stored[run.component] |= bits << run.b;
        } else {
            for (unsigned i = 0; i < count; ++i) // reversed: the first bit is the highest
                stored[run.component] |= (bits >> i & 1u) << (run.b - i);
        }
        typedef typename std::conditional<r + 1 < Bc6hTables::modes[I].runCount, Runs<I, r + 1, start + count>,
                                          RunsEnd<I, start + count>>::type Next;
        Next::read(low, high, stored);
    }
};

template <unsigned I, bool Signed>
inline Fields fields(const unsigned char *block)
{
    constexpr const Bc6hMode &mode = Bc6hTables::modes[I];
    constexpr unsigned bits = mode.endpointBits;
    const std::uint64_t low = bc7::load64(block), high = bc7::load64(block + 8);
    unsigned stored[kBc6hComponents] = {};
    Runs<I, 0, mode.modeBits>::read(low, high, stored);
    Fields f;
    std::memset(f.pairs, 0, sizeof f.pairs);
    for (unsigned c = 0; c < kBc6hChannels; ++c) {
        const unsigned base = stored[c];
        for (unsigned e = 0; e < 2u * mode.regions; ++e) {
            unsigned u = stored[kBc6hChannels * e + c];
            if (mode.transformed && e != 0)
                u = (base + unsigned(signExtend(u, mode.deltaBits[c]))) & ((1u << bits) - 1);
            const int v = Signed ? signExtend(u, bits) : int(u);
            const int q = unquantize<Signed, bits>(v) - (Signed ? 0 : kUnsignedOffset);
            f.pairs[e / 2][2 * c + e % 2] = static_cast<std::int16_t>(q);
        }
    }
    if (mode.regions == 2) {
        f.partition = static_cast<unsigned>(bc7::blockBits<77, 5>(low, high));
        std::uint64_t indices = bc7::blockBits<kBc6hTwoRegionHeader, 46>(low, high);
        indices = bc7::insertZero(indices, 2);
        f.indices = bc7::insertZero(indices, Bc7Tables::anchors2[f.partition] * 3u + 2u);
    } else {
        f.partition = 0;
        f.indices = bc7::insertZero(bc7::blockBits<kBc6hOneRegionHeader, 63>(low, high), 3);
    }
    return f;
}

// Four outputs' halves, in 32-bit lanes, from their endpoint and weight pairs.
template <class V, bool Signed>
VARIANT_TARGET inline typename V::Vector halves(typename V::Vector endpointPairs, typename V::Vector weightPairs)
{
    typedef typename V::Vector Vector;
    constexpr int kHalf = 1 << (kBc7WeightBits - 1);
    const Vector sum = V::multiplyAddWords(endpointPairs, weightPairs);
    if (!Signed) {
        // The offset comes back whole: (sum + 32 + 64·0x8000) >> 6, then (v·31) >> 6.
        const Vector v = V::template shiftRightDwords<6>(V::addDwords(sum, V::splatDwords(kHalf + (kUnsignedOffset << 6))));
        return V::template shiftRightDwords<6>(V::subtractDwords(V::template shiftLeftDwords<5>(v), v));
    }
    const Vector v = V::template shiftRightDwordsSigned<6>(V::addDwords(sum, V::splatDwords(kHalf)));
    const Vector m = V::absoluteDwords(v);
    return V::template shiftRightDwords<5>(V::subtractDwords(V::template shiftLeftDwords<5>(m), m));
}

// The sign bits of four signed outputs: where v ≤ −2, whose scaled magnitude
// is not 0 (−1 scales to +0), all ones.
template <class V>
VARIANT_TARGET inline typename V::Vector negatives(typename V::Vector endpointPairs, typename V::Vector weightPairs)
{
    constexpr int kHalf = 1 << (kBc7WeightBits - 1);
    const typename V::Vector sum = V::multiplyAddWords(endpointPairs, weightPairs);
    // (sum + 32) >> 6 ≤ −2 exactly where sum + 32 + 64 < 0.
    return V::template shiftRightDwordsSigned<31>(V::addDwords(sum, V::splatDwords(kHalf + 64)));
}

template <class V, unsigned I, bool Signed>
VARIANT_TARGET void decodeMode(const unsigned char *data, const std::uint16_t *positions, std::size_t count,
                           unsigned char *const outdata[4])
{
    typedef typename V::Vector Vector;
    constexpr const Bc6hMode &mode = Bc6hTables::modes[I];
    constexpr unsigned indexBits = mode.regions == 2 ? 3 : 4;
    const auto &slots = mode.regions == 2 ? kTwoRegionSlots<V::kThirdSubsetSlots>.slots
                                          : kOneRegionSlots<V::kThirdSubsetSlots>.slots;
    const Vector sixtyFour = V::splatBytes(1 << kBc7WeightBits);
    const Vector signBit = V::splatWords(0x8000);
    for (std::size_t i = 0; i < count; i += V::kLanes) {
        std::size_t at[V::kLanes];
        Fields f[V::kLanes];
        const void *regions[2][V::kLanes];
        std::uint64_t indices[V::kLanes];
        for (unsigned l = 0; l < V::kLanes; ++l) {
            at[l] = positions[i + l < count ? i + l : count - 1];
            f[l] = fields<I, Signed>(data + kBc6hBlockBytes * at[l]);
            regions[0][l] = f[l].pairs[0];
            regions[1][l] = f[l].pairs[1];
            indices[l] = f[l].indices;
        }
        const Vector region0 = V::perLane(regions[0]);
        const Vector region1 = V::perLane(regions[1]);

        const Vector weights = bc7::pixelWeights<V, indexBits>(V::fromIntegers(indices));
        const Vector pairsLow = V::interleaveLowBytes(V::subtractBytes(sixtyFour, weights), weights);
        const Vector pairsHigh = V::interleaveHighBytes(V::subtractBytes(sixtyFour, weights), weights);
#pragma GCC unroll 4
        for (unsigned row = 0; row < 4; ++row) {
            const Vector pairs = row < 2 ? pairsLow : pairsHigh;
            Vector out[3], sign[3];
            for (unsigned g = 0; g < 3; ++g) {
                const Vector slot = bc7::perLane<V>([&](unsigned l) { return slots[f[l].partition][row][g]; });
                const Vector endpoints =
                    mode.regions == 2 ? V::shuffleTwo(region0, region1, slot) : V::shuffle(region0, slot);
                const Vector weightPairs = V::shuffle(pairs, V::pattern(kWeightSpreads.spread[row][g]));
                out[g] = halves<V, Signed>(endpoints, weightPairs);
                if (Signed)
                    sign[g] = negatives<V>(endpoints, weightPairs);
            }
            Vector low = V::packDwords(out[0], out[1]), high = V::packDwords(out[2], out[2]);
            if (Signed) {
                low = V::bitOr(low, V::bitAnd(V::packDwords(sign[0], sign[1]), signBit));
                high = V::bitOr(high, V::bitAnd(V::packDwords(sign[2], sign[2]), signBit));
            }
            unsigned char *rows[V::kLanes];
            for (unsigned l = 0; l < V::kLanes; ++l)
                rows[l] = outdata[row] + kRowBytes * at[l];
            V::storeRows24(low, high, rows);
        }
    }
}

// Blocks are grouped a chunk at a time, as BC7's are.
constexpr std::size_t kChunkBlocks = 512;

// Each low five bits' row of the mode table, or kBc6hReserved.
struct ModeOfLowBits {
    unsigned char mode[32];
};

constexpr ModeOfLowBits modeOfLowBits()
{
    ModeOfLowBits t{};
    for (unsigned low5 = 0; low5 < 32; ++low5)
        t.mode[low5] = static_cast<unsigned char>(bc6hModeOf(low5));
    return t;
}

constexpr ModeOfLowBits kModeOfLowBits = modeOfLowBits();

template <class V, bool Signed, unsigned... I>
struct EachMode {
    VARIANT_TARGET static void decode(const unsigned char *data, const std::uint16_t (*positions)[kChunkBlocks],
                                   const std::size_t *counts, unsigned char *const outdata[4])
    {
        const int expand[] = {(decodeMode<V, I, Signed>(data, positions[I], counts[I], outdata), 0)...};
        (void)expand;
    }
};

template <class V, bool Signed>
VARIANT_TARGET void decodeBlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    const std::size_t blocks = len / kBc6hBlockBytes;
    for (std::size_t start = 0; start < blocks; start += kChunkBlocks) {
        const std::size_t chunk = blocks - start < kChunkBlocks ? blocks - start : kChunkBlocks;
        std::uint16_t positions[kBc6hModes + 1][kChunkBlocks];
        std::size_t counts[kBc6hModes + 1] = {};
        const unsigned char *chunkData = data + kBc6hBlockBytes * start;
        for (std::size_t j = 0; j < chunk; ++j) {
            const unsigned mode = kModeOfLowBits.mode[chunkData[kBc6hBlockBytes * j] & 0x1Fu];
            positions[mode][counts[mode]++] = static_cast<std::uint16_t>(j);
        }
        unsigned char *const chunkOut[4] = {outdata[0] + kRowBytes * start, outdata[1] + kRowBytes * start,
                                            outdata[2] + kRowBytes * start, outdata[3] + kRowBytes * start};
        EachMode<V, Signed, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13>::decode(chunkData, positions, counts, chunkOut);
        for (std::size_t k = 0; k < counts[kBc6hReserved]; ++k)
            for (unsigned yo = 0; yo < 4; ++yo)
                std::memset(chunkOut[yo] + kRowBytes * positions[kBc6hReserved][k], 0, kRowBytes);
    }
}

} // namespace bc6h
} // namespace

#endif
