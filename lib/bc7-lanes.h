// The BC7 decoder of the vector variants, written once for every register
// width. `V` names a vector type and the few operations the decoder needs;
// every operation works within each 128-bit lane and each lane decodes a
// block of its own, so the SSSE3 and NEON decoders (one lane), the AVX2
// decoder (two lanes) and the AVX-512 one (four) run the same steps. What
// differs from lane to lane (blocks, per-block patterns, index integers,
// row addresses) is handed to V as an array of one entry per lane.
//
// A block's own work branches on its mode, and modes change from block to
// block as an encoder chose them. So a run is taken a chunk at a time, its
// blocks grouped by mode (into lists of positions on the stack), and each
// mode's blocks are decoded by code made for that mode alone, a lane's worth
// at a time, with no branch that depends on a block's bits.
//
// In a lane, a block becomes:
// - its endpoints, every component a 16-bit word cut from the block by a byte
//   shuffle and per-word shifts (which are multiplications on x86), its p-bit
//   put below it and its top bits repeated below that; then the high bytes,
//   packed as an endpoint table: byte 8·subset + 2·channel + endpoint (a
//   second table holds the third subset);
// - its indices, read with scalar code as one integer in which a zero bit is
//   put back for each anchor, then cut into a byte a pixel like the endpoints,
//   and looked up in the weight table;
// - per half row, the endpoint pair and the weight pair (64 - w, w) of each
//   output byte, gathered by shuffles (for partitioned modes the endpoint
//   shuffle comes from a table per partition); one multiply-add of byte pairs
//   and a rounding shift give (64 - w)·e0 + w·e1 + 32 >> 6.
//
// The including file compiles this for its own instruction set: it defines
// VARIANT_TARGET (a target attribute, or nothing) before including this header,
// which is why everything here is local to that file.
#ifndef BC7_LANES_H
#define BC7_LANES_H

#ifndef VARIANT_TARGET
#error "define VARIANT_TARGET before including bc7-lanes.h"
#endif

#include "bc7-tables.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {
namespace bc7 {

// ---------------------------------------------------------------------------
// Layouts derived from the tables in bc7-tables.h at compile time.

constexpr unsigned kSlotsPerSubset = 2 * kBc7Channels;     // endpoint bytes of one subset
constexpr unsigned kSlots = kBc7MaxSubsets * kSlotsPerSubset; // 24: three groups of eight words
constexpr unsigned kGroups = kSlots / 8;
constexpr unsigned char kZeroLane = 0x80; // a shuffle index that gives 0 (on x86 and ARM alike)
constexpr std::uint16_t kOpaqueWord = 0xFF00; // 255 in the high byte, where endpoints are built
constexpr std::size_t kRowBytes = 4 * kBc7Channels; // a block's row in a plane: four RGBA pixels
constexpr unsigned kMaxIndexBits = 4;

// How to cut one mode's endpoints out of its block: per endpoint slot (a
// 16-bit word, in three groups of eight), the two block bytes that hold the
// field, the left shift that puts the field at the word's top, its mask, the
// same for the p-bit (put just below the field), a constant (opaque alpha
// where the mode has none) and the right shift by the widened width that
// repeats the top bits below it. Shifts are kept both as multipliers (x86
// multiplies to shift each word by its own count) and as counts (ARM shifts
// by a vector of counts, negative to the right).
struct EndpointRecipe {
    unsigned char window[kGroups][16];
    unsigned char pWindow[kGroups][16];
    std::uint16_t leftMul[kGroups][8];
    std::int16_t leftCount[kGroups][8];
    std::uint16_t mask[kGroups][8];
    std::uint16_t pLeftMul[kGroups][8];
    std::int16_t pLeftCount[kGroups][8];
    std::uint16_t pMask[kGroups][8];
    std::uint16_t constant[kGroups][8];
    std::uint16_t rightMul[kGroups][8];
    std::int16_t rightCount[kGroups][8];
};

// Where a mode's fields start.
constexpr unsigned headerBits(unsigned m)
{
    return m + 1 + Bc7Tables::modes[m].partitionBits + Bc7Tables::modes[m].rotationBits +
           Bc7Tables::modes[m].indexSelectionBits;
}

constexpr unsigned pBitsStart(unsigned m)
{
    return headerBits(m) + 2 * Bc7Tables::modes[m].subsets * (3 * Bc7Tables::modes[m].colourBits + Bc7Tables::modes[m].alphaBits);
}

constexpr unsigned primaryStart(unsigned m)
{
    return pBitsStart(m) + Bc7Tables::modes[m].subsets * (2 * Bc7Tables::modes[m].endpointPBits + Bc7Tables::modes[m].sharedPBits);
}

// Each subset's anchor is one bit short.
constexpr unsigned primaryBits(unsigned m) { return kBc7Pixels * Bc7Tables::modes[m].indexBits - Bc7Tables::modes[m].subsets; }

constexpr unsigned secondaryStart(unsigned m) { return primaryStart(m) + primaryBits(m); }

constexpr unsigned secondaryBits(unsigned m)
{
    return Bc7Tables::modes[m].secondaryIndexBits ? kBc7Pixels * Bc7Tables::modes[m].secondaryIndexBits - 1 : 0;
}

constexpr EndpointRecipe endpointRecipe(unsigned m)
{
    const Bc7ModeLayout mode = Bc7Tables::modes[m];
    EndpointRecipe r{};
    const unsigned pBits = mode.endpointPBits + mode.sharedPBits;
    for (unsigned slot = 0; slot < kSlots; ++slot) {
        const unsigned g = slot / 8, i = slot % 8;
        const unsigned s = slot / kSlotsPerSubset, c = slot % kSlotsPerSubset / 2, e = slot % 2;
        r.window[g][2 * i] = r.window[g][2 * i + 1] = kZeroLane;
        r.pWindow[g][2 * i] = r.pWindow[g][2 * i + 1] = kZeroLane;
        r.rightMul[g][i] = 1u << 8; // any shift keeps 0 and 255 in the high byte
        r.rightCount[g][i] = -8;
        if (s >= mode.subsets)
            continue; // left 0
        const unsigned width = c < 3 ? mode.colourBits : mode.alphaBits;
        if (width == 0) {
            r.constant[g][i] = kOpaqueWord;
            continue;
        }
        const unsigned offset = c < 3 ? headerBits(m) + ((c * mode.subsets + s) * 2 + e) * width
                                      : headerBits(m) + 6 * mode.subsets * mode.colourBits + (s * 2 + e) * width;
        const unsigned byte = offset / 8, bit = offset % 8;
        r.window[g][2 * i] = static_cast<unsigned char>(byte);
        r.window[g][2 * i + 1] = static_cast<unsigned char>(byte + 1 < kBc7BlockBytes ? byte + 1 : kZeroLane);
        r.leftCount[g][i] = static_cast<std::int16_t>(16 - bit - width);
        r.leftMul[g][i] = static_cast<std::uint16_t>(1u << (16 - bit - width));
        r.mask[g][i] = static_cast<std::uint16_t>(((1u << width) - 1) << (16 - width));
        if (pBits != 0) {
            const unsigned q = mode.endpointPBits ? pBitsStart(m) + 2 * s + e : pBitsStart(m) + s;
            r.pWindow[g][2 * i] = static_cast<unsigned char>(q / 8);
            r.pLeftCount[g][i] = static_cast<std::int16_t>(15 - width - q % 8);
            r.pLeftMul[g][i] = static_cast<std::uint16_t>(1u << (15 - width - q % 8));
            r.pMask[g][i] = static_cast<std::uint16_t>(1u << (15 - width));
        }
        r.rightCount[g][i] = static_cast<std::int16_t>(-int(width + pBits));
        r.rightMul[g][i] = static_cast<std::uint16_t>(1u << (16 - width - pBits));
    }
    return r;
}

// How to cut sixteen indices of `bits` bits from an integer: per pixel, its
// two bytes and the left shift that puts the index at the word's top.
struct IndexRecipe {
    unsigned char window[2][16];
    std::uint16_t leftMul[2][8];
    std::int16_t leftCount[2][8];
};

constexpr IndexRecipe indexRecipe(unsigned bits)
{
    IndexRecipe r{};
    for (unsigned pixel = 0; pixel < kBc7Pixels; ++pixel) {
        const unsigned g = pixel / 8, i = pixel % 8, offset = pixel * bits;
        r.window[g][2 * i] = static_cast<unsigned char>(offset / 8);
        r.window[g][2 * i + 1] = static_cast<unsigned char>(offset / 8 + 1); // byte 8 is a zero above the integer
        r.leftCount[g][i] = static_cast<std::int16_t>(16 - offset % 8 - bits);
        r.leftMul[g][i] = static_cast<std::uint16_t>(1u << (16 - offset % 8 - bits));
    }
    return r;
}

// The weight tables as 16-byte shuffle tables.
struct WeightTable {
    unsigned char weight[16];
};

constexpr WeightTable weightTable(unsigned bits)
{
    WeightTable t{};
    for (unsigned i = 0; i < (1u << bits); ++i)
        t.weight[i] = bits == 2 ? Bc7Tables::weights2[i] : bits == 3 ? Bc7Tables::weights3[i] : Bc7Tables::weights4[i];
    return t;
}

// Per partition and half row (2·row + half), each output byte's endpoint
// slot: 8·subset + 2·channel + endpoint, for two subsets; for three, the
// third subset's slots are in a second table, and start at `thirdBase`
// (V::kThirdSubsetSlots), which V's lookup of two tables understands.
template <unsigned subsets, unsigned thirdBase>
struct SubsetSlots {
    unsigned char slots[kBc7Partitions][8][16];
};

template <unsigned subsets, unsigned thirdBase>
constexpr SubsetSlots<subsets, thirdBase> subsetSlots()
{
    SubsetSlots<subsets, thirdBase> t{};
    for (unsigned p = 0; p < kBc7Partitions; ++p)
        for (unsigned k = 0; k < 8; ++k)
            for (unsigned b = 0; b < 16; ++b) {
                // Half row k holds pixels 2·k and 2·k + 1, eight bytes each.
                const unsigned pixel = 2 * k + b / 8, offset = b % 8;
                const unsigned s = subsets == 2 ? Bc7Tables::partitions2[p][pixel] : Bc7Tables::partitions3[p][pixel];
                t.slots[p][k][b] = static_cast<unsigned char>((s < 2 ? s * kSlotsPerSubset : thirdBase) + offset);
            }
    return t;
}

// Each variant's file uses one of each (8 KB each).
template <unsigned subsets, unsigned thirdBase>
constexpr SubsetSlots<subsets, thirdBase> kSubsetSlots = subsetSlots<subsets, thirdBase>();

// The two non-zero anchors of three-subset partitions, lower first, the
// order in which their missing bits are put back.
struct OrderedAnchors {
    unsigned char anchors[kBc7Partitions][2];
};

constexpr OrderedAnchors orderedAnchors()
{
    OrderedAnchors t{};
    for (unsigned p = 0; p < kBc7Partitions; ++p) {
        const unsigned a = Bc7Tables::anchors3Second[p], b = Bc7Tables::anchors3Third[p];
        t.anchors[p][0] = static_cast<unsigned char>(a < b ? a : b);
        t.anchors[p][1] = static_cast<unsigned char>(a < b ? b : a);
    }
    return t;
}

// Shuffles for the output's half rows: half row (row, half) holds pixels
// 4·row + 2·half and the next, four channels each, as 16-bit words.
struct Spreads {
    // Each output byte's weight pair, from the pairs of pixels 0-7 (rows 0
    // and 1) or 8-15 (rows 2 and 3).
    unsigned char weight[4][2][16];
    // Each output byte's channel and endpoint: its offset within a subset's slots.
    unsigned char channel[16];
    // Modes 4 and 5, per rotation and index selection bit (2·rotation + bit):
    // each output byte's endpoint slot after the rotation, and its weight
    // pair from a row's pairs, primary indices' then secondary's.
    unsigned char rotatedChannel[8][16];
    unsigned char separateWeight[8][2][16];
};

constexpr Spreads spreads()
{
    Spreads t{};
    for (unsigned b = 0; b < 16; ++b) {
        const unsigned word = b / 2, endpoint = b % 2, channel = word % 4, pixelInHalf = word / 4;
        t.channel[b] = static_cast<unsigned char>(2 * channel + endpoint);
        for (unsigned row = 0; row < 4; ++row)
            for (unsigned half = 0; half < 2; ++half) {
                const unsigned pixel = 4 * row + 2 * half + pixelInHalf;
                t.weight[row][half][b] = static_cast<unsigned char>(2 * (pixel % 8) + endpoint);
            }
        for (unsigned rotation = 0; rotation < 4; ++rotation)
            for (unsigned selection = 0; selection < 2; ++selection) {
                // Rotation r swaps alpha with channel r - 1.
                const unsigned source = rotation == 0 ? channel
                                        : channel == 3 ? rotation - 1
                                        : channel == rotation - 1 ? 3 : channel;
                const bool secondary = (source == 3) != (selection == 1);
                const unsigned k = 2 * rotation + selection;
                t.rotatedChannel[k][b] = static_cast<unsigned char>(2 * source + endpoint);
                for (unsigned half = 0; half < 2; ++half)
                    t.separateWeight[k][half][b] =
                        static_cast<unsigned char>((secondary ? 8 : 0) + 2 * (2 * half + pixelInHalf) + endpoint);
            }
    }
    return t;
}

struct Recipes {
    EndpointRecipe endpoints[kBc7Modes];
    IndexRecipe indices[kMaxIndexBits + 1]; // by index bits, 2 to 4
    WeightTable weights[kMaxIndexBits + 1];
    OrderedAnchors anchors3;
    Spreads spreads;
};

constexpr Recipes recipes()
{
    Recipes r{};
    for (unsigned m = 0; m < kBc7Modes; ++m)
        r.endpoints[m] = endpointRecipe(m);
    for (unsigned bits = 2; bits <= kMaxIndexBits; ++bits) {
        r.indices[bits] = indexRecipe(bits);
        r.weights[bits] = weightTable(bits);
    }
    r.anchors3 = orderedAnchors();
    r.spreads = spreads();
    return r;
}

alignas(64) constexpr Recipes kRecipes = recipes();

// ---------------------------------------------------------------------------
// Scalar fields.

// Eight bytes, lowest first. Every target with a vector variant is
// little-endian, so this is one load (the byte-by-byte form let one compiler
// rebuild it from the vector's lanes, a dozen instructions).
inline std::uint64_t load64(const unsigned char *p)
{
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the vector variants read little-endian words");
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// `count` bits of the block from bit `start` (both constant), lowest first.
template <unsigned start, unsigned count>
inline std::uint64_t blockBits(std::uint64_t low, std::uint64_t high)
{
    static_assert(count < 64 && start + count <= 128, "a field within the block");
    const std::uint64_t bits = start >= 64 ? high >> (start % 64) : (low >> start | high << ((64 - start) % 64));
    return start + count == 128 ? bits : bits & ((std::uint64_t(1) << count) - 1);
}

// Puts back a zero bit at `position`, moving the bits from there up by one.
inline std::uint64_t insertZero(std::uint64_t bits, unsigned position)
{
    return bits + (bits & (~std::uint64_t(0) << position));
}

// What one block of mode M needs besides its endpoints.
struct Fields {
    unsigned partition;
    unsigned patternSet; // modes 4 and 5: 2·rotation + index selection bit
    std::uint64_t primary, secondary;
};

template <unsigned M>
inline Fields fields(const unsigned char *block)
{
    constexpr Bc7ModeLayout mode = Bc7Tables::modes[M];
    const std::uint64_t low = load64(block), high = load64(block + 8);
    const unsigned header = static_cast<unsigned>(low >> (M + 1));
    Fields f{};
    f.partition = header & ((1u << mode.partitionBits) - 1);
    f.patternSet = (header >> mode.partitionBits) & ((1u << (mode.rotationBits + mode.indexSelectionBits)) - 1);
    if (mode.indexSelectionBits == 0)
        f.patternSet <<= 1; // the rotation alone: selection bit 0
    else
        f.patternSet = (f.patternSet & 3u) << 1 | f.patternSet >> 2;
    constexpr unsigned bits = mode.indexBits;
    std::uint64_t primary = blockBits<primaryStart(M), primaryBits(M)>(low, high);
    primary = insertZero(primary, bits - 1);
    if (mode.subsets == 2) {
        primary = insertZero(primary, Bc7Tables::anchors2[f.partition] * bits + bits - 1);
    } else if (mode.subsets == 3) {
        const unsigned char *anchors = kRecipes.anchors3.anchors[f.partition];
        primary = insertZero(primary, anchors[0] * bits + bits - 1);
        primary = insertZero(primary, anchors[1] * bits + bits - 1);
    }
    f.primary = primary;
    if (mode.secondaryIndexBits != 0) {
        // (Modes without secondary indices instantiate this too, on a field that fits.)
        constexpr unsigned start = secondaryBits(M) ? secondaryStart(M) : 0, count = secondaryBits(M) ? secondaryBits(M) : 1;
        f.secondary = insertZero(blockBits<start, count>(low, high), mode.secondaryIndexBits - 1);
    }
    return f;
}

// ---------------------------------------------------------------------------
// Lane work.

// One group of eight endpoint slots of mode M, widened, in the words' low bytes.
template <class V, unsigned M>
VARIANT_TARGET inline typename V::Vector endpointGroup(typename V::Vector block, unsigned g)
{
    typedef typename V::Vector Vector;
    constexpr Bc7ModeLayout mode = Bc7Tables::modes[M];
    const EndpointRecipe &r = kRecipes.endpoints[M];
    Vector w = V::shuffle(block, V::pattern(r.window[g]));
    w = V::shiftLeft16(w, r.leftMul[g], r.leftCount[g]);
    w = V::bitAnd(w, V::pattern(r.mask[g]));
    if (mode.endpointPBits + mode.sharedPBits != 0) {
        Vector p = V::shuffle(block, V::pattern(r.pWindow[g]));
        p = V::shiftLeft16(p, r.pLeftMul[g], r.pLeftCount[g]);
        w = V::bitOr(w, V::bitAnd(p, V::pattern(r.pMask[g])));
    }
    if (mode.alphaBits == 0)
        w = V::bitOr(w, V::pattern(r.constant[g]));
    // Repeat the top bits below: by a count for the whole group where every
    // component has one width (the opaque constant keeps 255 at any count),
    // not at all where that width is already 8.
    constexpr unsigned pBits = mode.endpointPBits + mode.sharedPBits;
    constexpr unsigned width = mode.colourBits + pBits;
    if (mode.alphaBits != 0 && mode.alphaBits + pBits != width)
        w = V::bitOr(w, V::shiftRight16(w, r.rightMul[g], r.rightCount[g]));
    else if (width < 8)
        w = V::bitOr(w, V::template shiftRightWords<width < 8 ? width : 1>(w));
    return V::template shiftRightWords<8>(w);
}

// Sixteen indices of `bits` bits from the integer in each lane's low 8 bytes,
// looked up in the weight table: a weight byte a pixel.
template <class V, unsigned bits>
VARIANT_TARGET inline typename V::Vector pixelWeights(typename V::Vector packed)
{
    typedef typename V::Vector Vector;
    if (bits == 4) {
        // Whole nibbles: pixel 2k is byte k's low nibble, pixel 2k + 1 its high one.
        const Vector nibble = V::splatBytes(0x0F);
        const Vector indices = V::interleaveLowBytes(V::bitAnd(packed, nibble),
                                                     V::bitAnd(V::template shiftRightWords<4>(packed), nibble));
        return V::shuffle(V::pattern(kRecipes.weights[bits].weight), indices);
    }
    const IndexRecipe &r = kRecipes.indices[bits];
    Vector low = V::shuffle(packed, V::pattern(r.window[0]));
    Vector high = V::shuffle(packed, V::pattern(r.window[1]));
    low = V::template shiftRightWords<16 - bits>(V::shiftLeft16(low, r.leftMul[0], r.leftCount[0]));
    high = V::template shiftRightWords<16 - bits>(V::shiftLeft16(high, r.leftMul[1], r.leftCount[1]));
    return V::shuffle(V::pattern(kRecipes.weights[bits].weight), V::pack(low, high));
}

// One half row's bytes: ((64 - w)·e0 + w·e1 + 32) >> 6 per 16-bit word.
template <class V>
VARIANT_TARGET inline typename V::Vector interpolate(typename V::Vector endpointPairs, typename V::Vector weightPairs)
{
    return V::roundShift6(V::multiplyAddBytes(endpointPairs, weightPairs));
}

template <class V>
VARIANT_TARGET inline void storeRow(typename V::Vector low, typename V::Vector high, unsigned char *const outdata[4],
                                unsigned row, const std::size_t (&at)[V::kLanes])
{
    unsigned char *rows[V::kLanes];
    for (unsigned l = 0; l < V::kLanes; ++l)
        rows[l] = outdata[row] + kRowBytes * at[l];
    V::storeLanes(V::pack(low, high), rows);
}

// Lane l's entry of a table of patterns, chosen by each lane's block.
template <class V, class Choose>
VARIANT_TARGET inline typename V::Vector perLane(Choose choose)
{
    const void *patterns[V::kLanes];
    for (unsigned l = 0; l < V::kLanes; ++l)
        patterns[l] = choose(l);
    return V::perLane(patterns);
}

// One half row of a block with two or three subsets, from its partition's
// endpoint slots (`slots`: the half rows of each lane's block).
template <class V, unsigned subsets>
VARIANT_TARGET inline typename V::Vector partitionedHalfRow(typename V::Vector table, typename V::Vector third,
                                                       const unsigned char (*const (&slots)[V::kLanes])[16],
                                                       typename V::Vector pairs, unsigned row, unsigned half)
{
    typedef typename V::Vector Vector;
    const Vector slot = perLane<V>([&](unsigned l) { return slots[l][2 * row + half]; });
    const Vector endpoints = subsets == 3 ? V::shuffleTwo(table, third, slot) : V::shuffle(table, slot);
    return interpolate<V>(endpoints, V::shuffle(pairs, V::pattern(kRecipes.spreads.weight[row][half])));
}

// Decodes the blocks of mode M at `positions` (blocks from `data`, rows
// into `outdata` at the same positions), V::kLanes at a time; a lane with
// no block of its own repeats the last one, and stores the same bytes.
template <class V, unsigned M>
VARIANT_TARGET void decodeMode(const unsigned char *data, const std::uint16_t *positions, std::size_t count,
                           unsigned char *const outdata[4])
{
    typedef typename V::Vector Vector;
    constexpr Bc7ModeLayout mode = Bc7Tables::modes[M];
    const Spreads &spread = kRecipes.spreads;
    const Vector sixtyFour = V::splatBytes(1 << kBc7WeightBits);
    for (std::size_t i = 0; i < count; i += V::kLanes) {
        std::size_t at[V::kLanes];
        const unsigned char *blocks[V::kLanes];
        Fields f[V::kLanes];
        std::uint64_t primary[V::kLanes], secondary[V::kLanes];
        for (unsigned l = 0; l < V::kLanes; ++l) {
            at[l] = positions[i + l < count ? i + l : count - 1];
            blocks[l] = data + kBc7BlockBytes * at[l];
            f[l] = fields<M>(blocks[l]);
            primary[l] = f[l].primary;
            secondary[l] = f[l].secondary;
        }
        const Vector block = V::blocks(blocks);

        const Vector table = V::pack(endpointGroup<V, M>(block, 0), endpointGroup<V, M>(block, 1));
        Vector third = V::zero();
        if (mode.subsets == 3)
            third = V::pack(endpointGroup<V, M>(block, 2), V::zero());

        const Vector weights = pixelWeights<V, mode.indexBits>(V::fromIntegers(primary));
        const Vector pairsLow = V::interleaveLowBytes(V::subtractBytes(sixtyFour, weights), weights);
        const Vector pairsHigh = V::interleaveHighBytes(V::subtractBytes(sixtyFour, weights), weights);

        if (mode.secondaryIndexBits != 0) {
            // Modes 4 and 5: each row's pairs from both index sets side by
            // side; the rotation and selection bit choose the shuffles.
            constexpr unsigned secondaryIndex = mode.secondaryIndexBits ? mode.secondaryIndexBits : 2;
            const Vector others = pixelWeights<V, secondaryIndex>(V::fromIntegers(secondary));
            const Vector secondLow = V::interleaveLowBytes(V::subtractBytes(sixtyFour, others), others);
            const Vector secondHigh = V::interleaveHighBytes(V::subtractBytes(sixtyFour, others), others);
            const Vector rows[4] = {V::unpackLow64(pairsLow, secondLow), V::unpackHigh64(pairsLow, secondLow),
                                    V::unpackLow64(pairsHigh, secondHigh),
                                    V::unpackHigh64(pairsHigh, secondHigh)};
            const Vector endpoints =
                V::shuffle(table, perLane<V>([&](unsigned l) { return spread.rotatedChannel[f[l].patternSet]; }));
            const Vector spreadLow = perLane<V>([&](unsigned l) { return spread.separateWeight[f[l].patternSet][0]; });
            const Vector spreadHigh = perLane<V>([&](unsigned l) { return spread.separateWeight[f[l].patternSet][1]; });
#pragma GCC unroll 4
            for (unsigned row = 0; row < 4; ++row)
                storeRow<V>(interpolate<V>(endpoints, V::shuffle(rows[row], spreadLow)),
                            interpolate<V>(endpoints, V::shuffle(rows[row], spreadHigh)), outdata, row, at);
        } else if (mode.subsets == 1) {
            // Mode 6: every pixel has the same endpoints.
            const Vector endpoints = V::shuffle(table, V::pattern(spread.channel));
#pragma GCC unroll 4
            for (unsigned row = 0; row < 4; ++row) {
                const Vector pairs = row < 2 ? pairsLow : pairsHigh;
                storeRow<V>(interpolate<V>(endpoints, V::shuffle(pairs, V::pattern(spread.weight[row][0]))),
                            interpolate<V>(endpoints, V::shuffle(pairs, V::pattern(spread.weight[row][1]))), outdata,
                            row, at);
            }
        } else {
            constexpr unsigned subsets = mode.subsets == 3 ? 3 : 2;
            const auto &slots = kSubsetSlots<subsets, subsets == 3 ? V::kThirdSubsetSlots : 0>.slots;
            const unsigned char(*partitionSlots[V::kLanes])[16];
            for (unsigned l = 0; l < V::kLanes; ++l)
                partitionSlots[l] = slots[f[l].partition];
#pragma GCC unroll 4
            for (unsigned row = 0; row < 4; ++row) {
                const Vector pairs = row < 2 ? pairsLow : pairsHigh;
                storeRow<V>(partitionedHalfRow<V, mode.subsets>(table, third, partitionSlots, pairs, row, 0),
                            partitionedHalfRow<V, mode.subsets>(table, third, partitionSlots, pairs, row, 1), outdata,
                            row, at);
            }
        }
    }
}

// Blocks are grouped a chunk at a time: positions fit 16 bits, and the lists
// (9 × 512 × 2 bytes) stay small on the stack.
constexpr std::size_t kChunkBlocks = 512;
constexpr unsigned kNoMode = kBc7Modes; // a first byte of 0

template <class V>
VARIANT_TARGET void decodeBlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    const std::size_t blocks = len / kBc7BlockBytes;
    for (std::size_t start = 0; start < blocks; start += kChunkBlocks) {
        const std::size_t chunk = blocks - start < kChunkBlocks ? blocks - start : kChunkBlocks;
        std::uint16_t positions[kBc7Modes + 1][kChunkBlocks];
        std::size_t counts[kBc7Modes + 1] = {};
        const unsigned char *chunkData = data + kBc7BlockBytes * start;
        for (std::size_t j = 0; j < chunk; ++j) {
            // The mode is the count of zero bits below the lowest one; a bit
            // set above the byte makes a byte of 0 the list of blocks with no mode.
            const unsigned mode = static_cast<unsigned>(__builtin_ctz(chunkData[kBc7BlockBytes * j] | 1u << kNoMode));
            positions[mode][counts[mode]++] = static_cast<std::uint16_t>(j);
        }
        unsigned char *const chunkOut[4] = {outdata[0] + kRowBytes * start, outdata[1] + kRowBytes * start,
                                            outdata[2] + kRowBytes * start, outdata[3] + kRowBytes * start};
        decodeMode<V, 0>(chunkData, positions[0], counts[0], chunkOut);
        decodeMode<V, 1>(chunkData, positions[1], counts[1], chunkOut);
        decodeMode<V, 2>(chunkData, positions[2], counts[2], chunkOut);
        decodeMode<V, 3>(chunkData, positions[3], counts[3], chunkOut);
        decodeMode<V, 4>(chunkData, positions[4], counts[4], chunkOut);
        decodeMode<V, 5>(chunkData, positions[5], counts[5], chunkOut);
        decodeMode<V, 6>(chunkData, positions[6], counts[6], chunkOut);
        decodeMode<V, 7>(chunkData, positions[7], counts[7], chunkOut);
        for (std::size_t k = 0; k < counts[kNoMode]; ++k)
            for (unsigned yo = 0; yo < 4; ++yo)
                std::memset(chunkOut[yo] + kRowBytes * positions[kNoMode][k], 0, kRowBytes);
    }
}

} // namespace bc7
} // namespace

#endif
