// The block formats beyond DXT1, written once for every register width as
// lane-palettes.h is: `V` names a vector of one, two or four 128-bit lanes and the
// operations on it, each of which works within each lane.
//
// Three kernels make every format, as in the plain decoder:
//   the colour block   lanePalettes (lane-palettes.h), always four-colour for
//                      BC2 and BC3, its rows gathered by the row shuffles;
//   the channel block  BC3's alpha, BC4, both halves of BC5: two channel
//                      blocks per lane, their values gathered into whatever
//                      order a layout names;
//   the 4-bit alphas   BC2's, one block per lane.
// The formats compose them per group of blocks, storing each plane's bytes
// once: BC4 and BC5 gather values straight into their rows; BC2 and BC3
// have V::storeRgbaRows spread each row's alphas into the colour row before
// it is stored. Each format's run goes through eachGroup (block-groups.h).
//
// Architecture-neutral: the including file defines VARIANT_TARGET and its `V`
// (the intrinsics) before including this header; V::kLanes is its number of
// 128-bit lanes: 1 (SSSE3, NEON), 2 (AVX2) or 4 (AVX-512). NEON's channel
// kernel, sixteen blocks a register, keeps its own values' division (by 7
// and 5) but takes the signed endpoints' clamp and values' bytes from here
// (signedValueBytes).
#ifndef LANE_CHANNELS_H
#define LANE_CHANNELS_H

#include "block-groups.h"
#include "lane-palettes.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace {

// Where a byte of a channel kernel's values comes from: channel block 0 or
// 1 of its lane (bytes 0-7 or 8-15), pixel k = 4·row + column.
struct ValuePlace {
    unsigned block, pixel;
};

// BC4 and BC5: value register r holds rows 2r and 2r + 1 of the lane's
// blocks, 8 bytes a row, PixelBytes a pixel: BC4's two blocks side by side
// (channel block b is block b), or BC5's one block with red and green
// interleaved (channel block c is channel c).
template <unsigned PixelBytes>
struct ChannelRowLayout {
    static constexpr ValuePlace place(unsigned reg, unsigned byte)
    {
        return {byte % 8 / (4 * PixelBytes) * PixelBytes + byte % PixelBytes,
                4 * (2 * reg + byte / 8) + byte % (4 * PixelBytes) / PixelBytes};
    }
};

// BC3's alphas: value register r holds channel block r's sixteen values,
// rows 0 and 1 in bytes 0-7, 2 and 3 in 8-15, the two rows' pixels of each
// column side by side.
struct ChannelColumnPairLayout {
    static constexpr unsigned byteOf(unsigned pixel) { return pixel / 8 * 8 + pixel % 4 * 2 + pixel / 4 % 2; }
    static constexpr ValuePlace place(unsigned reg, unsigned byte)
    {
        return {reg, byte / 8 * 8 + byte % 2 * 4 + byte % 8 / 2};
    }
};

// BC2's alphas: the even pixels' in bytes 0-7, the odd pixels' in 8-15.
struct ExplicitAlphaLayout {
    static constexpr unsigned byteOf(unsigned pixel) { return pixel % 2 * 8 + pixel / 2; }
};

// Per 128-bit lane, stored for every lane (lane-palettes.h).
namespace lane {

constexpr unsigned kShiftedBits = 4;      // the channel indices' second source (below)
constexpr unsigned char kIndexMask = 7; // a 3-bit index

// The channel palettes' constants, unsigned or signed: 16-bit lane j holds
// value j. Each lane's byte pair multiplies (e0, e1): w0(j), w1(j) of each
// mode scaled to a sum over 35 (palette-layout.h).
struct ChannelConstants {
    Pattern<signed char> spreadFirst, spreadSecond;   // channel block 0's or 1's (e0, e1) in every 16-bit lane
    Pattern<signed char> swappedFirst, swappedSecond; // the same as (e1, e0), for signed endpoints' mode
    Pattern<signed char> difference;                  // e0 - e1, for unsigned endpoints' mode
    Pattern<signed char> eightWeights, sixWeights;
    Pattern<short> extremes; // the six-value mode's values 6 and 7 as sums: 0 and 255 · 35, or -127 · 35 and 127 · 35
    Pattern<short> rounding; // the gpu rule's bias 35 / 2; for signed sums with 127 · 35 as well, offsetting the values by 127
    Pattern<short> oneThirtyFifth;
    Pattern<signed char> lowest;    // -127: signed endpoints read -128 as it
    Pattern<signed char> signBits;  // 0x80
    Pattern<signed char> minusTwos; // -2
    Pattern<unsigned char> indexMask;
};

constexpr Pattern<signed char> channelWeights(unsigned scale, unsigned generated, unsigned divisor)
{
    // Value 0 is e0 and 1 is e1; values 2 to generated + 1 divide (divisor + 1 - j)·e0 + (j - 1)·e1
    // by `divisor`; the rest (the six-value mode's 6 and 7) weigh nothing.
    Pattern<signed char> w{};
    for (unsigned i = 0; i < kStoredLanes * 8; ++i) {
        const unsigned j = i % 8;
        const unsigned first = j == 0 ? kChannelScale : j == 1 || j > generated + 1 ? 0 : scale * (divisor + 1 - j);
        const unsigned second = j == 1 ? kChannelScale : j == 0 || j > generated + 1 ? 0 : scale * (j - 1);
        w.v[2 * i] = static_cast<signed char>(first);
        w.v[2 * i + 1] = static_cast<signed char>(second);
    }
    return w;
}

constexpr Pattern<short> lanesSixAndSeven(short six, short seven)
{
    Pattern<short> p{};
    for (unsigned i = 0; i < kStoredLanes * 8; i += 8) {
        p.v[i + 6] = six;
        p.v[i + 7] = seven;
    }
    return p;
}

constexpr short kSignedZeroSum = 127 * kChannelScale; // the sum of the value 127, or of 0 offset by 127

constexpr ChannelConstants makeChannelConstants(bool isSigned)
{
    return {
        everyLane<signed char>(0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1),
        everyLane<signed char>(8, 9, 8, 9, 8, 9, 8, 9, 8, 9, 8, 9, 8, 9, 8, 9),
        everyLane<signed char>(1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0),
        everyLane<signed char>(9, 8, 9, 8, 9, 8, 9, 8, 9, 8, 9, 8, 9, 8, 9, 8),
        everyLane<signed char>(1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1),
        channelWeights(kEightValueScale, 6, 7),
        channelWeights(kSixValueScale, 4, 5),
        isSigned ? lanesSixAndSeven(-kSignedZeroSum, kSignedZeroSum)
                 : lanesSixAndSeven(0, static_cast<short>(255 * kChannelScale)),
        filled<short>(static_cast<short>(kChannelScale / 2 + (isSigned ? kSignedZeroSum : 0))),
        filled<short>(kOneThirtyFifth),
        filled<signed char>(-127),
        filled<signed char>(-128),
        filled<signed char>(-2),
        filled<unsigned char>(kIndexMask),
    };
}
template <bool Signed>
struct ChannelConstantsFor {
    static constexpr ChannelConstants constants = makeChannelConstants(Signed);
};
template <bool Signed>
constexpr ChannelConstants ChannelConstantsFor<Signed>::constants;

// Channel indices. Pixel k's 3-bit index lies at bit 3k of the 48 index
// bits, bit offset t = 3k mod 8 within its byte; in the blocks shifted down by
// kShiftedBits it lies at offset t - 4 (mod 8). Taken from the blocks where
// t is 1 to 4 and from the shifted blocks otherwise, every index lies wholly
// in one byte at offset u = 1 to 4, the same for every pixel of a column
// (k mod 4 decides t mod 4). So two indices of one column share a 16-bit
// lane: gathered into its bytes, a multiply-high by 2^(16 - u) moves both to
// bits 0-2 of their bytes, and a mask clears the rest.

// Byte g of a value register, as gathered: its pair (g / 2) shares a column.
struct IndexSource {
    unsigned char block, shifted; // the lane byte holding the index, from the blocks or the shifted blocks (else 0x80)
    unsigned offset;              // u, its bit offset there
};
constexpr IndexSource indexSource(ValuePlace place)
{
    const unsigned t = 3 * place.pixel % 8, start = 8 * place.block; // the index bits start at block byte 2
    if (t >= 1 && t <= 4)
        return {static_cast<unsigned char>(start + 2 + 3 * place.pixel / 8), 0x80, t};
    return {0x80, static_cast<unsigned char>(start + (16 - kShiftedBits + 3 * place.pixel) / 8), (t + 8 - kShiftedBits) % 8};
}

struct ChannelIndexTables {
    Pattern<unsigned char> gather[2], gatherShifted[2]; // value register r: per byte, its index's byte in either source
    Pattern<short> shift[2];                            // per 16-bit lane, 2^(16 - u)
    Pattern<unsigned char> select[2];                   // 8 where channel block 1's palette (bytes 8-15) serves
    Pattern<unsigned char> order[2];                    // the byte shuffle from gathered order to the layout's
    bool reordered;                                     // whether that shuffle is needed
};

// The gathered order keeps the layout's where each of its pairs shares a
// column (BC5's red and green, BC3's column pairs); otherwise (BC4's rows)
// it takes the layout's bytes column by column, and `order` puts them back.
template <class Layout>
constexpr bool pairsShareColumns()
{
    for (unsigned r = 0; r < 2; ++r)
        for (unsigned g = 0; g < 16; g += 2)
            if (Layout::place(r, g).pixel % 4 != Layout::place(r, g + 1).pixel % 4)
                return false;
    return true;
}

// The layout's byte that value register r gathers at byte g.
template <class Layout>
constexpr unsigned gatheredByte(unsigned r, unsigned g)
{
    if (pairsShareColumns<Layout>())
        return g;
    unsigned next = 0;
    for (unsigned column = 0; column < 4; ++column)
        for (unsigned byte = 0; byte < 16; ++byte)
            if (Layout::place(r, byte).pixel % 4 == column && next++ == g)
                return byte;
    return 16; // not reached: every layout byte has a column
}

// Each 16-bit lane's two indices at one offset, wholly within their bytes.
template <class Layout>
constexpr bool pairsShareOffsets()
{
    for (unsigned r = 0; r < 2; ++r)
        for (unsigned g = 0; g < 16; g += 2) {
            const IndexSource first = indexSource(Layout::place(r, gatheredByte<Layout>(r, g)));
            const IndexSource second = indexSource(Layout::place(r, gatheredByte<Layout>(r, g + 1)));
            if (first.offset != second.offset || first.offset < 1 || first.offset + 3 > 8)
                return false;
        }
    return true;
}

template <class Layout>
constexpr ChannelIndexTables makeChannelIndexTables()
{
    static_assert(pairsShareOffsets<Layout>(), "each 16-bit lane's indices must share their bit offset");
    ChannelIndexTables t{};
    t.reordered = !pairsShareColumns<Layout>();
    for (unsigned r = 0; r < 2; ++r)
        for (unsigned g = 0; g < 16; ++g) {
            const unsigned byte = gatheredByte<Layout>(r, g);
            const ValuePlace place = Layout::place(r, byte);
            const IndexSource source = indexSource(place);
            for (unsigned copy = 0; copy < kStoredLanes; ++copy) {
                t.gather[r].v[16 * copy + g] = source.block;
                t.gatherShifted[r].v[16 * copy + g] = source.shifted;
                t.shift[r].v[8 * copy + g / 2] = static_cast<short>(1u << (16 - source.offset));
                t.select[r].v[16 * copy + g] = static_cast<unsigned char>(8 * place.block);
                t.order[r].v[16 * copy + byte] = static_cast<unsigned char>(g);
            }
        }
    return t;
}
template <class Layout>
struct ChannelIndexTablesFor {
    static constexpr ChannelIndexTables tables = makeChannelIndexTables<Layout>();
};
template <class Layout>
constexpr ChannelIndexTables ChannelIndexTablesFor<Layout>::tables;

// The 16-byte RGBA blocks' (BC2, BC3): BC2's nibbles and their widening,
// and the colour half's endpoints.
constexpr unsigned char kWiden4 = 17; // 15 · 17 = 255
struct RgbaBlockConstants {
    Pattern<signed char> lowNibbles;
    Pattern<unsigned char> widen4; // a · 17 at byte a
    Pattern<signed char> spreadColourAtEight; // a 16-byte block's colour endpoints, as lanePalettes wants them
};
constexpr RgbaBlockConstants rgbaBlock = {
    filled<signed char>(15),
    everyLane<unsigned char>(0 * kWiden4, 1 * kWiden4, 2 * kWiden4, 3 * kWiden4, 4 * kWiden4, 5 * kWiden4,
                             6 * kWiden4, 7 * kWiden4, 8 * kWiden4, 9 * kWiden4, 10 * kWiden4, 11 * kWiden4,
                             12 * kWiden4, 13 * kWiden4, 14 * kWiden4, 15 * kWiden4),
    // c0 (bytes 8-9) in 16-bit lanes 0-2, c1 (10-11) in 3-5.
    everyLane<signed char>(8, 9, 8, 9, 8, 9, 10, 11, 10, 11, 10, 11, -1, -1, -1, -1),
};

// Byte shuffles spreading a block's alphas, in the layout `Layout::byteOf`,
// to byte 3 of each RGBA pixel of row yo; the colour bytes zero.
struct AlphaRowSpreads {
    alignas(16) unsigned char row[4][16];
};
template <class Layout>
constexpr AlphaRowSpreads makeAlphaRowSpreads()
{
    AlphaRowSpreads s{};
    for (unsigned yo = 0; yo < 4; ++yo)
        for (unsigned byte = 0; byte < 16; ++byte)
            s.row[yo][byte] = byte % 4 == 3 ? static_cast<unsigned char>(Layout::byteOf(4 * yo + byte / 4)) : 0x80;
    return s;
}
template <class Layout>
struct AlphaRowSpreadsFor {
    static constexpr AlphaRowSpreads spreads = makeAlphaRowSpreads<Layout>();
};
template <class Layout>
constexpr AlphaRowSpreads AlphaRowSpreadsFor<Layout>::spreads;

} // namespace lane

// Signed values under the design rule, the sums divided by 35 truncated
// toward zero (-127 to 127), and then as bytes: v + 128 from v = 0 on, v +
// 127 below. Without mask registers the magnitude is divided and the sign
// put back (one instruction: SSSE3's sign), and the bytes are v ^ 0x80 less
// 1 where v < 0. AVX-512 has no sign instruction, but with mask registers a
// signed multiply-high divides in two: it floors s · kOneThirtyFifth / 2^18,
// which (the multiplier rounded up) is q for s >= 0 and ~q = -1 - q below,
// q = |s| / 35 truncated; that is v less 1 where v < 0, as the bytes want,
// save for sums of -34 to -1, whose v is 0 and which give -1, a value no
// other sum gives. So the bytes are the words packed, -1 made 0, ^ 0x80.
template <class V>
struct MaskRegisters : std::integral_constant<bool, V::kMaskRegisters> {
};

template <class V>
VARIANT_TARGET inline typename V::Vector signedValues(const lane::ChannelConstants &c, typename V::Vector sums,
                                                   std::false_type)
{
    const typename V::Vector magnitudes = V::absolute(sums);
    return V::signOf(V::template shiftRightWords<kOneThirtyFifthShift>(V::mulhi(magnitudes, V::lanes(c.oneThirtyFifth.v))),
                     sums);
}

template <class V>
VARIANT_TARGET inline typename V::Vector signedValues(const lane::ChannelConstants &c, typename V::Vector sums,
                                                   std::true_type)
{
    return V::template shiftRightWordsSigned<kOneThirtyFifthShift>(V::mulhiSigned(sums, V::lanes(c.oneThirtyFifth.v)));
}

// Signed values v, -127 to 127, as bytes: ((v + 127)·255 + 127) / 254, which
// is v + 128 from v = 0 on and v + 127 below, so v ^ 0x80 less 1 where v < 0.
// Without mask registers (x86 before AVX-512, and NEON's kernel, which holds
// its values in its own layout) that is the sign bit flipped and the byte
// compare's -1 added; with them, the values come as v or ~v (signedValues)
// and the flip alone serves.
constexpr bool signedValueBytesAreExact()
{
    for (int v = kLeastSignedChannel; v <= 127; ++v)
        if ((((unsigned(v) & 0xFFu) ^ 0x80u) + (v < 0 ? 0xFFu : 0u)) % 256 != unsigned((v + 127) * 255 + 127) / 254)
            return false;
    return true;
}
static_assert(signedValueBytesAreExact(), "signed values must map as the plain decoder maps them");

template <class V>
VARIANT_TARGET inline typename V::Vector signedValueBytes(const lane::ChannelConstants &c, typename V::Vector values,
                                                       std::false_type)
{
    return V::addBytes(V::bitXor(values, V::lanes(c.signBits.v)), V::greaterBytes(V::zero(), values));
}

template <class V>
VARIANT_TARGET inline typename V::Vector signedValueBytes(const lane::ChannelConstants &c, typename V::Vector values,
                                                       std::true_type)
{
    return V::bitXor(V::zeroWhereAllOnes(values), V::lanes(c.signBits.v));
}

// Signed values under the gpu rule, packed as v + 127 (0 to 254), as bytes:
// plus 1 from 127 on. Without mask registers, where (v + 127) ^ 0x80 is,
// signed, above -2; with them, one unsigned compare masks the increment.
template <class V>
VARIANT_TARGET inline typename V::Vector roundedSignedValueBytes(const lane::ChannelConstants &c, typename V::Vector values,
                                                              std::false_type)
{
    return V::subtractBytes(values, V::greaterBytes(V::bitXor(values, V::lanes(c.signBits.v)), V::lanes(c.minusTwos.v)));
}

template <class V>
VARIANT_TARGET inline typename V::Vector roundedSignedValueBytes(const lane::ChannelConstants &, typename V::Vector values,
                                                              std::true_type)
{
    return V::incrementWhereAtLeast(values, 127);
}

// The signed multiply-high's floor (signedValues) over every signed sum, -127 · 35 to 127 · 35.
constexpr bool signedFloorsExact()
{
    for (int s = -127 * int(kChannelScale); s <= 127 * int(kChannelScale); ++s) {
        const int q = (s < 0 ? -s : s) / int(kChannelScale);
        // An arithmetic shift of the product, as the multiply-high and the shift make it.
        const int product = s * int(kOneThirtyFifth), floored = product >= 0 ? product >> 18 : -((-product + (1 << 18) - 1) >> 18);
        if (floored != (s >= 0 ? q : -1 - q) || (floored == -1) != (s < 0 && q == 0))
            return false;
    }
    return true;
}
static_assert(16 + kOneThirtyFifthShift == 18 && kOneThirtyFifth < 32768 && signedFloorsExact(),
              "a signed multiply-high by kOneThirtyFifth floors every signed sum to q or ~q");

// The eight values of one channel block per lane of `endpoints`, value j in
// 16-bit lane j: `spread` gathers its endpoint pair (e0, e1) into every
// 16-bit lane, `swapped` the pair (e1, e0).
//
// Both modes: value j = (w0(j)·e0 + w1(j)·e1 + bias) / 35 (palette-layout.h),
// the mode choosing the weights; the six-value mode's values 6 and 7 weigh
// nothing and have their sums ORed in whole. The byte multiply-add takes one
// unsigned and one signed operand: unsigned endpoints and the weights,
// or the weights and signed endpoints.
//   design, unsigned: the sum divided, truncated;
//   design, signed:   truncated toward zero (-127 to 127), as signedValues
//                     makes it;
//   gpu:              rounded by the bias 17, which rounds sevenths and fifths
//                     to nearest as adding 3 and 2 does; signed sums are
//                     first offset by 127 · 35, to 0-254 · 35, where rounding
//                     to nearest is the same (0 to 254).
template <class V, ColourRule Rule, bool Signed>
VARIANT_TARGET inline typename V::Vector channelValues(const lane::ChannelConstants &c, typename V::Vector endpoints,
                                                    const lane::Pattern<signed char> &spread,
                                                    const lane::Pattern<signed char> &swapped)
{
    typedef typename V::Vector Vector;
    const Vector pairs = V::shuffle(endpoints, V::lanes(spread.v));
    // The eight-value mode when e0 > e1: unsigned, when e0 - e1 > 0; signed,
    // when the 16-bit lane (e1, e0) is above (e0, e1), its high byte deciding.
    // Both 16-bit lanes of every 32-bit one compare alike.
    const Vector above = Signed ? V::shuffle(endpoints, V::lanes(swapped.v)) : V::multiplyAddBytes(pairs, V::lanes(c.difference.v));
    const Vector below = Signed ? pairs : V::zero();
    const Vector weights = V::selectWhereGreater(above, below, V::lanes(c.eightWeights.v), V::lanes(c.sixWeights.v));
    Vector sums = Signed ? V::multiplyAddBytes(weights, pairs) : V::multiplyAddBytes(pairs, weights);
    sums = V::orWhereNotGreater(above, below, sums, V::lanes(c.extremes.v));
    if (Rule == ColourRule::gpu)
        sums = V::add(sums, V::lanes(c.rounding.v));
    if (Signed && Rule == ColourRule::design)
        return signedValues<V>(c, sums, MaskRegisters<V>());
    return V::template shiftRightWords<kOneThirtyFifthShift>(V::mulhi(sums, V::lanes(c.oneThirtyFifth.v)));
}

// The palettes of the two channel blocks of each lane of `blocks` (bytes 0-7
// and 8-15): per lane, block 0's eight values as bytes, then block 1's.
template <class V, ColourRule Rule, bool Signed>
VARIANT_TARGET inline typename V::Vector channelPalettes(typename V::Vector blocks)
{
    typedef typename V::Vector Vector;
    const lane::ChannelConstants &c = V::opaque(lane::ChannelConstantsFor<Signed>::constants);
    const Vector endpoints = Signed ? V::atLeast(blocks, V::lanes(c.lowest.v)) : blocks;
    const Vector first = channelValues<V, Rule, Signed>(c, endpoints, c.spreadFirst, c.swappedFirst);
    const Vector second = channelValues<V, Rule, Signed>(c, endpoints, c.spreadSecond, c.swappedSecond);
    // Signed values v as bytes: (v + 127) · 255 + 127) / 254, which is v + 128
    // from v = 0 on and v + 127 below (signedValueBytes).
    if (Signed && Rule == ColourRule::design)
        return signedValueBytes<V>(c, V::packSigned(first, second), MaskRegisters<V>());
    const Vector values = V::pack(first, second);
    if (!Signed)
        return values;
    return roundedSignedValueBytes<V>(c, values, MaskRegisters<V>());
}

// The channel blocks of `blocks` (two per lane) gathered into two value
// registers per lane, in the order Layout names: V cuts the indices by
// multishift where it can (V::kMultishift).
template <class V, class Layout, ColourRule Rule, bool Signed>
VARIANT_TARGET inline void channelBlocks(typename V::Vector blocks, typename V::Vector values[2], std::true_type)
{
    const typename V::Vector palettes = channelPalettes<V, Rule, Signed>(blocks);
    for (unsigned r = 0; r < 2; ++r)
        values[r] = V::shuffle(palettes, V::template channelIndices<Layout>(blocks, r));
}

template <class V, class Layout, ColourRule Rule, bool Signed>
VARIANT_TARGET inline void channelBlocks(typename V::Vector blocks, typename V::Vector values[2], std::false_type)
{
    typedef typename V::Vector Vector;
    const lane::ChannelIndexTables &t = V::opaque(lane::ChannelIndexTablesFor<Layout>::tables);
    const lane::ChannelConstants &c = V::opaque(lane::ChannelConstantsFor<Signed>::constants);
    const Vector palettes = channelPalettes<V, Rule, Signed>(blocks);
    const Vector shifted = V::template shiftRightQuads<lane::kShiftedBits>(blocks);
    for (unsigned r = 0; r < 2; ++r) {
        const Vector gathered =
            V::bitOr(V::shuffle(blocks, V::lanes(t.gather[r].v)), V::shuffle(shifted, V::lanes(t.gatherShifted[r].v)));
        // Indices 0-7, with 8 added where block 1's palette (bytes 8-15) serves.
        const Vector indices = V::bitOr(V::bitAnd(V::mulhi(gathered, V::lanes(t.shift[r].v)), V::lanes(c.indexMask.v)),
                                        V::lanes(t.select[r].v));
        values[r] = V::shuffle(palettes, indices);
        if (lane::ChannelIndexTablesFor<Layout>::tables.reordered)
            values[r] = V::shuffle(values[r], V::lanes(t.order[r].v));
    }
}

template <class V, class Layout, ColourRule Rule, bool Signed>
VARIANT_TARGET inline void channelBlocks(typename V::Vector blocks, typename V::Vector values[2])
{
    channelBlocks<V, Layout, Rule, Signed>(blocks, values, std::integral_constant<bool, V::kMultishift>());
}

// BC2's sixteen alphas of the block in each lane (bytes 0-7), as bytes in
// ExplicitAlphaLayout: pixel 2i's alpha is the low nibble of byte i, pixel
// 2i + 1's its high nibble.
template <class V>
VARIANT_TARGET inline typename V::Vector explicitAlphas(typename V::Vector blocks)
{
    const lane::RgbaBlockConstants &c = V::opaque(lane::rgbaBlock);
    const typename V::Vector nibbles =
        V::bitAnd(V::unpackLow64(blocks, V::template shiftRightWords<4>(blocks)), V::lanes(c.lowNibbles.v));
    return V::shuffle(V::lanes(c.widen4.v), nibbles);
}

// BC2 and BC3 blocks are 16 bytes, their colour's index bytes at 12-15;
// their rows 16 bytes.
constexpr unsigned kAlphaBlockBytes = 16, kRowIndexBytes = 12, kRgbaRowBytes = 4 * kRgbaBytes;

// The same rows for every lane of `palettes`, `alphas` and `blocks` (the 16-byte
// blocks, one per lane, whose rows follow one another in the planes): where V
// gathers a register's colour rows at once (V::kMultishift), one store per
// row of the whole register; else lane by lane.
template <class V, class AlphaLayout>
VARIANT_TARGET inline void storeRgbaLanes(unsigned char *const outdata[4], std::size_t emit, typename V::Vector palettes,
                                       typename V::Vector alphas, typename V::Vector blocks, const unsigned char *,
                                       std::true_type)
{
    const lane::AlphaRowSpreads &s = lane::AlphaRowSpreadsFor<AlphaLayout>::spreads;
    const typename V::ColourRows rows = V::colourRows(palettes, blocks);
    for (unsigned yo = 0; yo < 4; ++yo)
        V::storeWhole(outdata[yo] + emit, V::bitOr(V::colourRow(rows, yo), V::shuffle(alphas, V::pattern(s.row[yo]))));
}

template <class V, class AlphaLayout>
VARIANT_TARGET inline void storeRgbaLanes(unsigned char *const outdata[4], std::size_t emit, typename V::Vector palettes,
                                       typename V::Vector alphas, typename V::Vector, const unsigned char *in,
                                       std::false_type)
{
    for (unsigned l = 0; l < V::kLanes; ++l)
        V::storeRgbaRows(outdata, emit + kRgbaRowBytes * l, V::lane(palettes, l), V::lane(alphas, l),
                         in + kAlphaBlockBytes * l + kRowIndexBytes, lane::AlphaRowSpreadsFor<AlphaLayout>::spreads.row);
}

template <class V, class AlphaLayout>
VARIANT_TARGET inline void storeRgbaLanes(unsigned char *const outdata[4], std::size_t emit, typename V::Vector palettes,
                                       typename V::Vector alphas, typename V::Vector blocks, const unsigned char *in)
{
    storeRgbaLanes<V, AlphaLayout>(outdata, emit, palettes, alphas, blocks, in,
                                   std::integral_constant<bool, V::kMultishift>());
}

// The always four-colour palettes of the 16-byte blocks in `blocks`, one per lane.
template <class V, ColourRule Rule>
VARIANT_TARGET inline typename V::Vector fourColourPalettes(typename V::Vector blocks)
{
    const lane::RgbaBlockConstants &c = V::opaque(lane::rgbaBlock);
    return lanePalettes<V, kRgbaBytes, Rule, true>(V::shuffle(blocks, V::lanes(c.spreadColourAtEight.v)));
}

// The groups: each decodes the blocks at `in` into the planes at byte `emit`.

// BC4 and BC5: 16 input bytes per lane (two BC4 blocks, one BC5 block), whose
// rows are 8 bytes per lane in the value registers.
template <class V, unsigned PixelBytes, ColourRule Rule, bool Signed>
VARIANT_TARGET inline void channelGroup(const unsigned char *in, unsigned char *const outdata[4], std::size_t emit)
{
    typename V::Vector values[2];
    channelBlocks<V, ChannelRowLayout<PixelBytes>, Rule, Signed>(V::load(in), values);
    V::storeRowHalves(outdata[0] + emit, outdata[1] + emit, values[0]);
    V::storeRowHalves(outdata[2] + emit, outdata[3] + emit, values[1]);
}

// BC2: one block per lane.
template <class V, ColourRule Rule>
VARIANT_TARGET inline void bc2Group(const unsigned char *in, unsigned char *const outdata[4], std::size_t emit)
{
    const typename V::Vector blocks = V::load(in);
    const typename V::Vector palettes = fourColourPalettes<V, Rule>(blocks), alphas = explicitAlphas<V>(blocks);
    storeRgbaLanes<V, ExplicitAlphaLayout>(outdata, emit, palettes, alphas, blocks, in);
}

// BC3: two blocks per lane. Loads h = 0 and 1 hold block kLanes·h + l in lane
// l; their alpha halves make the channel kernel's lanes, so that value
// register h holds, lane by lane, the alphas of the blocks of load h.
template <class V, ColourRule Rule>
VARIANT_TARGET inline void bc3Group(const unsigned char *in, unsigned char *const outdata[4], std::size_t emit)
{
    typedef typename V::Vector Vector;
    const Vector loads[2] = {V::load(in), V::load(in + kAlphaBlockBytes * V::kLanes)};
    Vector alphas[2];
    channelBlocks<V, ChannelColumnPairLayout, Rule, false>(V::unpackLow64(loads[0], loads[1]), alphas);
    for (unsigned h = 0; h < 2; ++h)
        storeRgbaLanes<V, ChannelColumnPairLayout>(outdata, emit + kRgbaRowBytes * V::kLanes * h,
                                                   fourColourPalettes<V, Rule>(loads[h]), alphas[h], loads[h],
                                                   in + kAlphaBlockBytes * V::kLanes * h);
}

// V with its constants loaded from their tables where they are used. Left
// to itself, the compiler rebuilds repeating constants from immediates
// inside the loops, four instructions each; with each table's address
// hidden from it, each constant is a load, most of them folded into the
// instruction that uses it, all of a table's from one address register.
template <class V>
struct Loaded : V {
    template <class T>
    VARIANT_TARGET static const T &opaque(const T &table)
    {
        const T *address = &table;
        __asm__("" : "+r"(address));
        return *address;
    }
    VARIANT_TARGET static typename V::Vector lanes(const void *pattern) { return V::wholeLanes(pattern); }
};

// The decoders of the formats, for V's table.
template <class V, ColourRule Rule>
VARIANT_TARGET void decodeBC2(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    eachGroup<BlockFormat::bc2, V::kLanes, bc2Group<Loaded<V>, Rule>>(data, len, outdata);
}

template <class V, ColourRule Rule>
VARIANT_TARGET void decodeBC3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    eachGroup<BlockFormat::bc3, 2 * V::kLanes, bc3Group<Loaded<V>, Rule>>(data, len, outdata);
}

template <class V, ColourRule Rule, bool Signed>
VARIANT_TARGET void decodeBC4(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    eachGroup<Signed ? BlockFormat::bc4s : BlockFormat::bc4, 2 * V::kLanes, channelGroup<Loaded<V>, 1, Rule, Signed>>(
        data, len, outdata);
}

template <class V, ColourRule Rule, bool Signed>
VARIANT_TARGET void decodeBC5(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    eachGroup<Signed ? BlockFormat::bc5s : BlockFormat::bc5, V::kLanes, channelGroup<Loaded<V>, 2, Rule, Signed>>(
        data, len, outdata);
}

} // namespace

#endif
