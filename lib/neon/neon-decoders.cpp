// NEON decoders (AArch64): sixteen blocks at a time, one block per byte lane.
//
// Three kernels make every format, as in the plain decoder: the colour block
// (BC1, and the colour of BC2 and BC3), the channel block (BC3's alpha, BC4,
// both halves of BC5) and BC2's 4-bit alphas. Each takes a group of sixteen
// blocks, whose halves of its kind lie a block stride apart at an offset in
// each block, and computes their palettes. Then, for each plane row of each
// quad (four blocks, sixteen pixels), it fills its components of the quad
// row's pixels: one register per component, pixel xo of block b in byte lane
// 4·b + xo. A format's decoder runs its kernels on the same quad row and
// writes the row with one interleaving store (st1 to st4 by pixel size), so
// that BC2, BC3 and BC5 write each plane once. The colour rule is a template
// parameter of the palette steps alone: the gpu rule's widening adds one
// shift-and-accumulate per field, and its rounded divisions are the rounding
// forms of the same multiplies.
//
// The colour block: the endpoints are de-interleaved so that every palette
// colour of every block is one byte lane of one register: colour k of
// component red is red.val[k], block j at lane j. A four-register table
// lookup with index 16·k + j then picks any block's colour k, so a plane row
// of four blocks is three lookups (red, green, blue), and for RGBA a fourth
// for alpha, whose colour 3 is the four-colour mode's mask itself (255, or 0
// in the three-colour mode). Beside an alpha kernel the palettes are instead
// transposed into one register per component and quad, and each quad row's
// index bytes looked up in the quad's halves (see ColourBlocks).
//
// The channel block: its eight values are computed for eight blocks at a
// time in 16-bit lanes, when the first of their two quads begins, then
// transposed into one two-register table per quad, value k of block b at
// byte 8·b + k. A quad's row takes one lookup, its index bits moved into
// place by shifts.
//
// The arithmetic the x86 kernels share is taken from the same functions,
// through the NEON operations (neon-lanes.h) on this layout's registers:
// the four-colour thirds and three-colour half under each rule
// (paletteThirds, paletteHalf in lane-palettes.h), signed endpoints' -128
// read as -127 and signed values' bytes (lane-channels.h), each constant
// from palette-layout.h. What stays here is what this layout does its own
// way, each at fewer instructions a block than the shared form would cost
// it: the endpoint fields in bytes (masks and shifts, the gpu rule's bit
// copies one shift-and-accumulate, where x86 multiplies 16-bit lanes), the
// sums by widening byte additions, and the channel values divided by each
// mode's divisor, 7 or 5, each value's sum one addition from the last's
// (x86 weighs both endpoints of every value and divides by 35, which here
// would add a multiply and a shift per value).
//
// The blocks after the last whole group are decoded through a staging copy
// (eachGroup, block-groups.h), so that nothing outside the input and the
// planes is touched.
#include "bc6h-decoder.h"
#include "bc7-decoder.h"
#include "decoder-variants.h"

#ifdef HAVE_NEON_VARIANT

#include "neon/neon-lanes.h"

#include "lane-channels.h"

namespace {

constexpr std::size_t kGroupBlocks = 16; // one block per byte lane
constexpr std::size_t kQuadBlocks = 4;   // blocks per interleaving store: one register per component
constexpr std::size_t kHalfBytes = 8;    // a colour or channel block: half of a 16-byte block

// The kernels' steps are inlined into each group's decoding, so that their
// registers and constants are those of one function.
#define NEON_STEP __attribute__((always_inline))

// The pixels of one plane row of a quad: component c of pixel xo of block b
// in byte lane 4·b + xo of component[c].
template <unsigned PixelBytes>
struct QuadRow {
    uint8x16_t component[PixelBytes];
};

inline void storeQuadRow(unsigned char *out, const QuadRow<1> &row)
{
    vst1q_u8(out, row.component[0]);
}

inline void storeQuadRow(unsigned char *out, const QuadRow<2> &row)
{
    vst2q_u8(out, (uint8x16x2_t{{row.component[0], row.component[1]}}));
}

inline void storeQuadRow(unsigned char *out, const QuadRow<kRgbBytes> &row)
{
    vst3q_u8(out, (uint8x16x3_t{{row.component[0], row.component[1], row.component[2]}}));
}

inline void storeQuadRow(unsigned char *out, const QuadRow<kRgbaBytes> &row)
{
    vst4q_u8(out, (uint8x16x4_t{{row.component[0], row.component[1], row.component[2], row.component[3]}}));
}

// The 16-bit words of the 8-byte halves at `Offset` of sixteen blocks
// `Stride` bytes apart: first.val[w] holds word w of blocks 0-7, block j in
// lane j, and second.val[w] that of blocks 8-15.
struct HalfWords {
    uint16x8x4_t first, second;
};

// The same words of eight blocks: val[w] holds word w, block j in lane j.
// 8-byte blocks load as they lie. 16-byte blocks load four at a time, 32-bit
// word m of block i in lane i of val[m]: the half's words 2·m' and 2·m' + 1
// are the low and high halves of word Offset / 4 + m'.
template <std::size_t Stride, std::size_t Offset>
inline uint16x8x4_t loadEightHalfWords(const unsigned char *blocks)
{
    static_assert((Stride == kHalfBytes && Offset == 0) || (Stride == 2 * kHalfBytes && Offset % kHalfBytes == 0 &&
                                                           Offset < Stride),
                  "a half is an 8-byte block, or either half of a 16-byte one");
    if (Stride == kHalfBytes)
        return vld4q_u16(reinterpret_cast<const uint16_t *>(blocks));
    const uint32x4x4_t first = vld4q_u32(reinterpret_cast<const uint32_t *>(blocks));
    const uint32x4x4_t second = vld4q_u32(reinterpret_cast<const uint32_t *>(blocks + Stride * kQuadBlocks));
    constexpr unsigned word = Offset / 4;
    const uint16x8_t a0 = vreinterpretq_u16_u32(first.val[word]), b0 = vreinterpretq_u16_u32(second.val[word]);
    const uint16x8_t a1 = vreinterpretq_u16_u32(first.val[word + 1]), b1 = vreinterpretq_u16_u32(second.val[word + 1]);
    return uint16x8x4_t{{vuzp1q_u16(a0, b0), vuzp2q_u16(a0, b0), vuzp1q_u16(a1, b1), vuzp2q_u16(a1, b1)}};
}

template <std::size_t Stride, std::size_t Offset>
inline HalfWords loadHalfWords(const unsigned char *blocks)
{
    return {loadEightHalfWords<Stride, Offset>(blocks),
            loadEightHalfWords<Stride, Offset>(blocks + kGroupBlocks / 2 * Stride)};
}

// The halves of a quad's blocks at `Offset`, 32 bytes for lookups: 8-byte
// blocks as they lie, or one half of each 16-byte block, de-interleaved.
template <std::size_t Stride, std::size_t Offset>
inline uint8x16x2_t loadQuadHalves(const unsigned char *quad)
{
    if (Stride == kHalfBytes)
        return {{vld1q_u8(quad), vld1q_u8(quad + 2 * kHalfBytes)}};
    const uint64x2x2_t first = vld2q_u64(reinterpret_cast<const uint64_t *>(quad));
    const uint64x2x2_t second = vld2q_u64(reinterpret_cast<const uint64_t *>(quad + 2 * Stride));
    return {{vreinterpretq_u8_u64(first.val[Offset / kHalfBytes]), vreinterpretq_u8_u64(second.val[Offset / kHalfBytes])}};
}

// Four 16-byte lookups in a quad's halves, one per plane row.
struct RowLookups {
    alignas(16) unsigned char index[4][16];
};

// ---------------------------------------------------------------------------
// The colour block.

// The endpoint fields in byte form, from the 16-bit masks the vector decoders
// share: red is the high byte's top five bits, green bits 3-10 of the
// endpoint with its low two bits cleared, blue the low byte shifted left.
constexpr unsigned char kRedByteMask = static_cast<unsigned short>(kRedMask) >> 8;
constexpr int kGreenShift = 3;
constexpr unsigned char kGreenByteMask = kGreenMask >> kGreenShift;
constexpr int kBlueShift = 3;
static_assert(kRedByteMask == 0xF8 && kGreenByteMask == 0xFC && (1 << kBlueShift) == kBlueLow,
              "the byte fields must be the 16-bit fields, shifted");
// The fields' widths: the gpu rule copies a field's top bits below it.
constexpr int kRedBits = 5, kGreenBits = 6, kBlueBits = 5;

// A field of `Bits` bits at the top of each byte, widened to 8 bits: the
// design rule keeps the zeros below it, the gpu rule copies its top bits there.
template <ColourRule Rule, int Bits>
inline uint8x16_t widenField(uint8x16_t field)
{
    return Rule == ColourRule::gpu ? vsraq_n_u8(field, field, Bits) : field;
}

// The palettes of a group, component by component (red, green, blue, then
// for RGBA alpha): component[c].val[k] holds colour k of every block, block j
// in byte lane j.
template <unsigned PixelBytes>
struct GroupPalettes {
    uint8x16x4_t component[PixelBytes];
};

struct Endpoints {
    uint8x16_t red, green, blue;
};

// The expanded components of 16 endpoints held in two registers of 16-bit lanes.
template <ColourRule Rule>
inline Endpoints expand(uint16x8_t first, uint16x8_t second)
{
    const uint8x16_t low = vuzp1q_u8(vreinterpretq_u8_u16(first), vreinterpretq_u8_u16(second));
    const uint8x16_t high = vuzp2q_u8(vreinterpretq_u8_u16(first), vreinterpretq_u8_u16(second));
    const uint8x16_t green = vshrn_high_n_u16(vshrn_n_u16(first, kGreenShift), second, kGreenShift);
    return {widenField<Rule, kRedBits>(vandq_u8(high, vdupq_n_u8(kRedByteMask))),
            widenField<Rule, kGreenBits>(vandq_u8(green, vdupq_n_u8(kGreenByteMask))),
            widenField<Rule, kBlueBits>(vshlq_n_u8(low, kBlueShift))};
}

// x / 3 (design) or (x + 1) / 3 (gpu) for the 16 sums in `first` and
// `second`, as bytes.
static_assert(kOneThird % 2 == 0 && 3 * 255 * kOneThird < 1u << 31,
              "Neon::mulhi halves its multiplier: kOneThird must be even, its products below 2^31");
template <ColourRule Rule>
inline uint8x16_t thirds(uint16x8_t first, uint16x8_t second)
{
    return vuzp1q_u8(paletteThirds<Neon, Rule>(vreinterpretq_u8_u16(first), lane::palette),
                     paletteThirds<Neon, Rule>(vreinterpretq_u8_u16(second), lane::palette));
}

// One component's four colours for 16 blocks; `fourColour` is all ones in
// the lanes of blocks with c0 > c1, or in every lane if FourColourAlways.
template <ColourRule Rule, bool FourColourAlways>
inline uint8x16x4_t componentPalettes(uint8x16_t e0, uint8x16_t e1, uint8x16_t fourColour)
{
    const uint16x8_t sumFirst = vaddl_u8(vget_low_u8(e0), vget_low_u8(e1)), sumSecond = vaddl_high_u8(e0, e1);
    // Four-colour mode: (2·e0 + e1) / 3 and (e0 + 2·e1) / 3.
    const uint8x16_t nearFirst = thirds<Rule>(vaddw_u8(sumFirst, vget_low_u8(e0)), vaddw_high_u8(sumSecond, e0));
    const uint8x16_t nearSecond = thirds<Rule>(vaddw_u8(sumFirst, vget_low_u8(e1)), vaddw_high_u8(sumSecond, e1));
    if (FourColourAlways)
        return {{e0, e1, nearFirst, nearSecond}};
    // Three-colour mode: the half, and black.
    const uint8x16_t half = paletteHalf<Neon, Rule>(e0, e1);
    return {{e0, e1, vbslq_u8(fourColour, nearFirst, half), vandq_u8(fourColour, nearSecond)}};
}

// Alpha's palettes: colours 0 to 2 opaque, colour 3 opaque in the four-colour
// mode alone.
inline void setAlpha(GroupPalettes<kRgbBytes> &, uint8x16_t) {}

inline void setAlpha(GroupPalettes<kRgbaBytes> &palettes, uint8x16_t fourColour)
{
    const uint8x16_t opaque = vdupq_n_u8(255);
    palettes.component[3] = {{opaque, opaque, opaque, fourColour}};
}

// Lane 4q + xo of a quad's row: block q of the quad (quad g of the group holds
// blocks 4g to 4g + 3), whose index byte for that row is spread to all four
// columns. The same values are the block numbers of the table index; those
// of quad 0 are also each lane's block within its quad.
alignas(16) constexpr unsigned char quadBlocks[4][16] = {
    {0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3},
    {4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7},
    {8, 8, 8, 8, 9, 9, 9, 9, 10, 10, 10, 10, 11, 11, 11, 11},
    {12, 12, 12, 12, 13, 13, 13, 13, 14, 14, 14, 14, 15, 15, 15, 15},
};
// Column xo's 2-bit index, at bits 2·xo and 2·xo + 1 of the index byte, moves
// to bits 4 and 5: the colour's register in a four-register table.
alignas(16) constexpr signed char columnToColour[16] = {4, 2, 0, -2, 4, 2, 0, -2, 4, 2, 0, -2, 4, 2, 0, -2};
constexpr unsigned char kColourBits = 0x30;

// The per-quad layout takes row yo's index byte of block b of the quad,
// byte 4 + yo of its half, from the quad's halves into lanes 4·b to 4·b + 3.
constexpr unsigned kColourIndexByte = 4;
constexpr RowLookups makeColourSpread()
{
    RowLookups r{};
    for (unsigned yo = 0; yo < 4; ++yo)
        for (unsigned lane = 0; lane < 16; ++lane)
            r.index[yo][lane] = static_cast<unsigned char>(kHalfBytes * (lane / 4) + kColourIndexByte + yo);
    return r;
}
constexpr RowLookups colourSpread = makeColourSpread();

// The per-quad layout's index: column xo's 2-bit colour index, at bits 2·xo
// and 2·xo + 1 of the row's index byte, moves down to bits 0 and 1, below 4·b
// for block b of the quad.
alignas(16) constexpr signed char columnDown[16] = {0, -2, -4, -6, 0, -2, -4, -6, 0, -2, -4, -6, 0, -2, -4, -6};
constexpr int kColourIndexBits = 2;

// The colour blocks of a group, writing components 0-2 (red, green, blue)
// and, where the three-colour mode is allowed and the pixel is RGBA, 3
// (alpha). The mode follows the unsigned comparison of the raw endpoints,
// unless FourColourAlways: BC2 and BC3, whose alpha is their alpha kernel's.
//
// The palettes are held for the lookups in one of two layouts. A lone colour
// kernel (BC1) keeps one four-register table per component for the whole
// group, colour k of block j at byte 16·k + j. One sharing the registers with
// an alpha kernel (BC2, BC3) keeps one register per component and quad,
// colour k of block b of the quad at byte 4·b + k: eight transposing steps a
// component, and each quad's registers are free once its rows are written.
// It takes a quad's index bytes from the quad's halves, as the alpha kernels
// do (the same loads), rather than holding every row's for the group.
template <unsigned PixelBytes, ColourRule Rule, bool FourColourAlways, std::size_t Stride, std::size_t Offset>
class ColourBlocks {
    static constexpr bool kQuadTables = FourColourAlways;

public:
    NEON_STEP explicit ColourBlocks(const unsigned char *blocks) : blocks_(blocks)
    {
        // val[0] to val[3]: c0, c1, the index bytes of rows 0 and 1, and of rows 2 and 3.
        const HalfWords words = loadHalfWords<Stride, Offset>(blocks);
        const uint16x8x4_t &first = words.first, &second = words.second;

        // c0 > c1 (unsigned) selects the four-colour mode.
        const uint8x16_t fourColour =
            FourColourAlways ? vdupq_n_u8(255)
                             : vuzp1q_u8(vreinterpretq_u8_u16(vcgtq_u16(first.val[0], first.val[1])),
                                         vreinterpretq_u8_u16(vcgtq_u16(second.val[0], second.val[1])));
        const Endpoints e0 = expand<Rule>(first.val[0], second.val[0]), e1 = expand<Rule>(first.val[1], second.val[1]);
        palettes_.component[0] = componentPalettes<Rule, FourColourAlways>(e0.red, e1.red, fourColour);
        palettes_.component[1] = componentPalettes<Rule, FourColourAlways>(e0.green, e1.green, fourColour);
        palettes_.component[2] = componentPalettes<Rule, FourColourAlways>(e0.blue, e1.blue, fourColour);
        if (!FourColourAlways)
            setAlpha(palettes_, fourColour);
        if (kQuadTables) {
#pragma GCC unroll 3
            for (unsigned c = 0; c < kRgbBytes; ++c) {
                // Colours 0 and 1, and 2 and 3, paired per block; then the pairs of each block joined.
                const uint8x16x4_t &colours = palettes_.component[c];
                const uint16x8_t low01 = vreinterpretq_u16_u8(vzip1q_u8(colours.val[0], colours.val[1]));
                const uint16x8_t high01 = vreinterpretq_u16_u8(vzip2q_u8(colours.val[0], colours.val[1]));
                const uint16x8_t low23 = vreinterpretq_u16_u8(vzip1q_u8(colours.val[2], colours.val[3]));
                const uint16x8_t high23 = vreinterpretq_u16_u8(vzip2q_u8(colours.val[2], colours.val[3]));
                quadTables_[0][c] = vreinterpretq_u8_u16(vzip1q_u16(low01, low23));
                quadTables_[1][c] = vreinterpretq_u8_u16(vzip2q_u16(low01, low23));
                quadTables_[2][c] = vreinterpretq_u8_u16(vzip1q_u16(high01, high23));
                quadTables_[3][c] = vreinterpretq_u8_u16(vzip2q_u16(high01, high23));
            }
        }

        if (kQuadTables)
            return;
        // Row yo's index byte of every block, block j in lane j.
        const uint8x16_t rows01First = vreinterpretq_u8_u16(first.val[2]), rows01Second = vreinterpretq_u8_u16(second.val[2]);
        const uint8x16_t rows23First = vreinterpretq_u8_u16(first.val[3]), rows23Second = vreinterpretq_u8_u16(second.val[3]);
        rows_[0] = vuzp1q_u8(rows01First, rows01Second);
        rows_[1] = vuzp2q_u8(rows01First, rows01Second);
        rows_[2] = vuzp1q_u8(rows23First, rows23Second);
        rows_[3] = vuzp2q_u8(rows23First, rows23Second);
    }

    NEON_STEP void beginQuad(unsigned quad)
    {
        if (kQuadTables)
            halves_ = loadQuadHalves<Stride, Offset>(blocks_ + kQuadBlocks * Stride * quad);
    }

    NEON_STEP void emit(unsigned quad, unsigned yo, QuadRow<PixelBytes> &row) const
    {
        if (kQuadTables) {
            // 4 · block + colour: the colour shifted down, the block of the quad inserted above it.
            const uint8x16_t spread = vqtbl2q_u8(halves_, vld1q_u8(colourSpread.index[yo]));
            const uint8x16_t index =
                vsliq_n_u8(vshlq_u8(spread, vld1q_s8(columnDown)), vld1q_u8(quadBlocks[0]), kColourIndexBits);
#pragma GCC unroll 3
            for (unsigned c = 0; c < kRgbBytes; ++c)
                row.component[c] = vqtbl1q_u8(quadTables_[quad][c], index);
            return;
        }
        // 16 · colour + block: the colour from the shifted index byte, the block from the lane.
        const uint8x16_t blocksOfQuad = vld1q_u8(quadBlocks[quad]);
        const uint8x16_t spread = vqtbl1q_u8(rows_[yo], blocksOfQuad);
        const uint8x16_t index =
            vbslq_u8(vdupq_n_u8(kColourBits), vshlq_u8(spread, vld1q_s8(columnToColour)), blocksOfQuad);
#pragma GCC unroll 3
        for (unsigned c = 0; c < kRgbBytes; ++c)
            row.component[c] = vqtbl4q_u8(palettes_.component[c], index);
        if (PixelBytes == kRgbaBytes && !FourColourAlways)
            row.component[PixelBytes - 1] = vqtbl4q_u8(palettes_.component[PixelBytes - 1], index);
    }

private:
    GroupPalettes<PixelBytes> palettes_;
    uint8x16_t quadTables_[kGroupBlocks / kQuadBlocks][kRgbBytes];
    uint8x16_t rows_[4];
    const unsigned char *blocks_;
    uint8x16x2_t halves_; // the per-quad layout's: the quad's halves, for its rows' index bytes
};

// ---------------------------------------------------------------------------
// The channel block.
//
// Its values in 16-bit lanes: with n = 7 (eight-value mode, e0 > e1) or 5
// (six-value mode) and d = e1 − e0, index j from 2 gives
//   ((n + 1 − j)·e0 + (j − 1)·e1) / n = (n·e0 + (j − 1)·d) / n,
// one multiply-accumulate for j = 2 and one addition of d for each j after;
// n and the multiplier that divides by it are chosen per lane. Six-value
// mode's indices 6 and 7 give the least and greatest values, bytes 0 and 255
// signed or not.

// kEightValueDivisor and kSixValueDivisor, and their multipliers kOneSeventh
// and kOneFifth, are palette-layout.h's, which proves them exact.
// Signed channel values run from −127 to 127 (−128 reads as −127).
constexpr int kSignedLeast = kLeastSignedChannel, kSignedGreatest = 127;
constexpr int kByteBits = 8;
constexpr std::uint16_t kSixValueExtremes = 0xFF00; // values 6 and 7 of a pair: bytes 0 and 255

// Signed values map to bytes as lane-channels.h's signedValueBytes maps
// them: the least and greatest to 0 and 255.
constexpr int signedValueByte(int v)
{
    return ((v + 127) * 255 + 127) / 254;
}
static_assert(signedValueByte(kSignedLeast) == (kSixValueExtremes & 0xFF) &&
                  signedValueByte(kSignedGreatest) == kSixValueExtremes >> kByteBits,
              "the six-value mode's extremes must be the bytes of the least and greatest signed values");

// S / n per lane as above, from the 16-bit sums.
template <ColourRule Rule, bool Signed>
inline int16x8_t divideSums(int16x8_t sums, int16x8_t multipliers)
{
    if (Rule == ColourRule::gpu)
        return vqrdmulhq_s16(sums, multipliers);
    const int16x8_t quotients = vqdmulhq_s16(sums, multipliers);
    if (!Signed)
        return quotients;
    // The sign bit of each sum, added: 1 where it is negative.
    return vreinterpretq_s16_u16(
        vsraq_n_u16(vreinterpretq_u16_s16(quotients), vreinterpretq_u16_s16(sums), 2 * kByteBits - 1));
}

// The values of eight blocks as two quads' tables, value k of block b of the
// quad at byte 8·b + k (two registers), from their first 16-bit words (e0 in
// the low byte, e1 in the high one). Eight blocks fill the 16-bit lanes of
// one register; three rounds of interleaving then turn the eight values'
// registers into the blocks' rows of values.
template <ColourRule Rule, bool Signed>
inline void channelTables(uint16x8_t endpointWords, uint8x16x2_t tables[2])
{
    const lane::ChannelConstants &signedConstants = lane::ChannelConstantsFor<true>::constants;
    int16x8_t e0, e1;
    if (Signed) {
        // −128 reads as −127, before the mode is chosen (lane-channels.h's
        // step); then sign-extended, e0 moved to the high byte first.
        const uint16x8_t words = vreinterpretq_u16_u8(
            Neon::atLeast(vreinterpretq_u8_u16(endpointWords), Neon::lanes(signedConstants.lowest.v)));
        e0 = vshrq_n_s16(vreinterpretq_s16_u16(vshlq_n_u16(words, kByteBits)), kByteBits);
        e1 = vshrq_n_s16(vreinterpretq_s16_u16(words), kByteBits);
    } else {
        e0 = vreinterpretq_s16_u16(vandq_u16(endpointWords, vdupq_n_u16(0xFF)));
        e1 = vreinterpretq_s16_u16(vshrq_n_u16(endpointWords, kByteBits));
    }
    // The six-value mode's divisor and multiplier, plus the differences in
    // the lanes of the eight-value mode.
    const uint16x8_t eightValues = vcgtq_s16(e0, e1);
    const int16x8_t eightOnly = vreinterpretq_s16_u16(eightValues);
    const int16x8_t divisors = vaddq_s16(vdupq_n_s16(kSixValueDivisor),
                                         vandq_s16(eightOnly, vdupq_n_s16(kEightValueDivisor - kSixValueDivisor)));
    const int16x8_t multipliers =
        vaddq_s16(vdupq_n_s16(kOneFifth), vandq_s16(eightOnly, vdupq_n_s16(kOneSeventh - kOneFifth)));
    const int16x8_t step = vsubq_s16(e1, e0);
    int16x8_t sum = vmlaq_s16(step, e0, divisors);

    int16x8_t values[8] = {e0, e1};
#pragma GCC unroll 6
    for (unsigned j = 2; j < 8; ++j) {
        values[j] = divideSums<Rule, Signed>(sum, multipliers);
        sum = vaddq_s16(sum, step);
    }
    // Values 2·m and 2·m + 1 of each block side by side (their low bytes),
    // as bytes.
    uint16x8_t pairs[4];
#pragma GCC unroll 4
    for (unsigned m = 0; m < 4; ++m) {
        const uint8x16_t pair = vtrn1q_u8(vreinterpretq_u8_s16(values[2 * m]), vreinterpretq_u8_s16(values[2 * m + 1]));
        pairs[m] = vreinterpretq_u16_u8(Signed ? signedValueBytes<Neon>(signedConstants, pair, MaskRegisters<Neon>()) : pair);
    }
    // Six-value mode: 6 the least, 7 the greatest, bytes 0 and 255 signed or
    // not (value 6 the low byte of the pair), one bit insert of a constant
    // where the mode is not the eight-value one. Written as a select, the
    // compiler splits it into four instructions around an immediate (bic,
    // mvn, and, orr).
    __asm__("bif %0.16b, %1.16b, %2.16b" : "+w"(pairs[3]) : "w"(vdupq_n_u16(kSixValueExtremes)), "w"(eightValues));

    // Then values 0-3 and 4-7 of each block, then each block's eight.
    const uint32x4_t low0to3 = vreinterpretq_u32_u16(vzip1q_u16(pairs[0], pairs[1]));
    const uint32x4_t high0to3 = vreinterpretq_u32_u16(vzip2q_u16(pairs[0], pairs[1]));
    const uint32x4_t low4to7 = vreinterpretq_u32_u16(vzip1q_u16(pairs[2], pairs[3]));
    const uint32x4_t high4to7 = vreinterpretq_u32_u16(vzip2q_u16(pairs[2], pairs[3]));
    tables[0] = {{vreinterpretq_u8_u32(vzip1q_u32(low0to3, low4to7)), vreinterpretq_u8_u32(vzip2q_u32(low0to3, low4to7))}};
    tables[1] = {{vreinterpretq_u8_u32(vzip1q_u32(high0to3, high4to7)), vreinterpretq_u8_u32(vzip2q_u32(high0to3, high4to7))}};
}

// A channel block's 48 index bits follow its endpoints; row yo's twelve,
// pixel 4·yo + xo's three bits at bit 3·xo of them, start at bit 12·yo: in
// byte 12·yo / 8 of the bits, at bit 0 (even rows) or 4 (odd rows).
constexpr unsigned kChannelIndexByte = 2;
constexpr unsigned rowByte(unsigned yo)
{
    return 12 * yo / 8;
}
constexpr unsigned rowBit(unsigned yo)
{
    return 12 * yo % 8;
}

// The 16 bits holding row yo's indices of block b of a quad, in both 16-bit
// lanes 2·b and 2·b + 1 (bytes 4·b to 4·b + 3).
constexpr RowLookups makeChannelSpread()
{
    RowLookups r{};
    for (unsigned yo = 0; yo < 4; ++yo)
        for (unsigned lane = 0; lane < 16; ++lane)
            r.index[yo][lane] =
                static_cast<unsigned char>(kHalfBytes * (lane / 4) + kChannelIndexByte + rowByte(yo) + lane % 2);
    return r;
}
constexpr RowLookups channelSpread = makeChannelSpread();

// Right shifts of 16-bit lane 2·b + c that bring pixel 2·c of the row to
// bits 0-2 (pixel 2·c + 1 then at bits 3-5); [0] for even rows, [1] for odd
// ones.
constexpr int kPairBits = 6, kOddRowBit = 4;
static_assert(rowBit(0) == 0 && rowBit(1) == kOddRowBit && rowBit(2) == 0 && rowBit(3) == kOddRowBit,
              "odd rows start at bit 4");
constexpr short kEven0 = 0, kEven1 = -kPairBits, kOdd0 = -kOddRowBit, kOdd1 = -kOddRowBit - kPairBits;
alignas(16) constexpr short channelPairShifts[2][8] = {
    {kEven0, kEven1, kEven0, kEven1, kEven0, kEven1, kEven0, kEven1},
    {kOdd0, kOdd1, kOdd0, kOdd1, kOdd0, kOdd1, kOdd0, kOdd1},
};
// A copy shifted left by 5, inserted above the low 5 bits, puts pixel 2·c + 1
// at bits 0-2 of the high byte; the block then goes above the 3 index bits.
constexpr int kPairSplit = 5, kValueIndexBits = 3;

// The channel blocks of a group, writing component `Channel` of pixels of
// PixelBytes bytes. The tables of two quads are computed before the first of
// them, so that at most four registers hold values.
template <unsigned PixelBytes, unsigned Channel, ColourRule Rule, bool Signed, std::size_t Stride, std::size_t Offset>
class ChannelBlocks {
    static_assert(Channel < PixelBytes, "the channel must be a byte of the pixel");

public:
    NEON_STEP explicit ChannelBlocks(const unsigned char *blocks) : blocks_(blocks) {}

    // Each pair of quads' tables from their endpoints, loaded then: held from
    // the group's first load, the second pair's were spilled (and with them,
    // in BC5, the loads' other registers).
    NEON_STEP void beginQuad(unsigned quad)
    {
        if (quad % 2 == 0)
            channelTables<Rule, Signed>(
                loadEightHalfWords<Stride, Offset>(blocks_ + kQuadBlocks * Stride * quad).val[0], tables_);
        halves_ = loadQuadHalves<Stride, Offset>(blocks_ + kQuadBlocks * Stride * quad);
    }

    NEON_STEP void emit(unsigned quad, unsigned yo, QuadRow<PixelBytes> &row) const
    {
        const uint16x8_t bits = vreinterpretq_u16_u8(vqtbl2q_u8(halves_, vld1q_u8(channelSpread.index[yo])));
        const uint16x8_t aligned = vshlq_u16(bits, vld1q_s16(channelPairShifts[yo % 2]));
        const uint16x8_t paired = vsliq_n_u16(aligned, aligned, kPairSplit);
        // 8 · block + value: the value in the low 3 bits, the block of the quad inserted above.
        const uint8x16_t index = vsliq_n_u8(vreinterpretq_u8_u16(paired), vld1q_u8(quadBlocks[0]), kValueIndexBits);
        row.component[Channel] = vqtbl2q_u8(tables_[quad % 2], index);
    }

private:
    const unsigned char *blocks_;
    uint8x16x2_t tables_[2];
    uint8x16x2_t halves_;
};

// ---------------------------------------------------------------------------
// BC2's alphas: pixel k's in bits 4k to 4k + 3 of the 8-byte half, widened as
// a·17, the nibble copied into both halves of the byte.

// Byte 2·yo + xo / 2 of block b's half, in lane 4·b + xo.
constexpr RowLookups makeAlphaSpread()
{
    RowLookups r{};
    for (unsigned yo = 0; yo < 4; ++yo)
        for (unsigned lane = 0; lane < 16; ++lane)
            r.index[yo][lane] = static_cast<unsigned char>(kHalfBytes * (lane / 4) + 2 * yo + lane % 4 / 2);
    return r;
}
constexpr RowLookups alphaSpread = makeAlphaSpread();

// Even columns' nibbles are low: shifted up to the high one.
constexpr int kNibbleBits = 4;
alignas(16) constexpr signed char lowNibbleUp[16] = {kNibbleBits, 0, kNibbleBits, 0, kNibbleBits, 0, kNibbleBits, 0,
                                                     kNibbleBits, 0, kNibbleBits, 0, kNibbleBits, 0, kNibbleBits, 0};
static_assert(15 * 17 == 255 && (15 << kNibbleBits | 15) == 255, "a·17 is the nibble in both halves");

template <std::size_t Stride, std::size_t Offset>
class ExplicitAlphaBlocks {
public:
    NEON_STEP explicit ExplicitAlphaBlocks(const unsigned char *blocks) : blocks_(blocks) {}

    NEON_STEP void beginQuad(unsigned quad)
    {
        halves_ = loadQuadHalves<Stride, Offset>(blocks_ + kQuadBlocks * Stride * quad);
    }

    NEON_STEP void emit(unsigned, unsigned yo, QuadRow<kRgbaBytes> &row) const
    {
        const uint8x16_t bytes = vqtbl2q_u8(halves_, vld1q_u8(alphaSpread.index[yo]));
        const uint8x16_t high = vshlq_u8(bytes, vld1q_s8(lowNibbleUp));
        row.component[kRgbaBytes - 1] = vsriq_n_u8(high, high, kNibbleBits);
    }

private:
    const unsigned char *blocks_;
    uint8x16x2_t halves_;
};

// ---------------------------------------------------------------------------
// Formats: a kernel, or two filling different components of the same quad
// rows.

template <class First, class Second>
class Both {
public:
    NEON_STEP explicit Both(const unsigned char *blocks) : first_(blocks), second_(blocks) {}

    NEON_STEP void beginQuad(unsigned quad)
    {
        first_.beginQuad(quad);
        second_.beginQuad(quad);
    }

    template <class Row>
    NEON_STEP void emit(unsigned quad, unsigned yo, Row &row) const
    {
        first_.emit(quad, yo, row);
        second_.emit(quad, yo, row);
    }

private:
    First first_;
    Second second_;
};

// Decodes the 16 blocks at `blocks` into the planes at byte `emit`: a group
// of eachGroup (block-groups.h). Inlined into both of its calls, so that the
// constants stay in registers across the main loop.
template <unsigned PixelBytes, class Kernels>
NEON_STEP inline void decodeGroup(const unsigned char *blocks, unsigned char *const outdata[4], std::size_t emit)
{
    Kernels kernels(blocks);
#pragma GCC unroll 4
    for (unsigned quad = 0; quad < kGroupBlocks / kQuadBlocks; ++quad) {
        kernels.beginQuad(quad);
#pragma GCC unroll 4
        for (unsigned yo = 0; yo < 4; ++yo) {
            QuadRow<PixelBytes> row;
            kernels.emit(quad, yo, row);
            storeQuadRow(outdata[yo] + emit + quad * kQuadBlocks * 4 * PixelBytes, row);
        }
    }
}

template <BlockFormat Format, class Kernels>
void decodeBlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    eachGroup<Format, kGroupBlocks, decodeGroup<blockFormatInfo(Format).pixelBytes, Kernels>, 0, true>(data, len,
                                                                                                      outdata);
}

// The kernels of each format: the colour block's halves are 8-byte blocks
// alone (BC1) or the second halves of 16-byte blocks (BC2, BC3).
constexpr std::size_t kWhole = kHalfBytes, kPair = 2 * kHalfBytes;

template <ColourRule Rule>
void decodeBC1(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    decodeBlocks<BlockFormat::bc1, ColourBlocks<kRgbBytes, Rule, false, kWhole, 0>>(data, len, outdata);
}

template <ColourRule Rule>
void decodeBC1A(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    decodeBlocks<BlockFormat::bc1a, ColourBlocks<kRgbaBytes, Rule, false, kWhole, 0>>(data, len, outdata);
}

template <ColourRule Rule>
void decodeBC2(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    decodeBlocks<BlockFormat::bc2, Both<ColourBlocks<kRgbaBytes, Rule, true, kPair, kHalfBytes>,
                                        ExplicitAlphaBlocks<kPair, 0>>>(data, len, outdata);
}

template <ColourRule Rule>
void decodeBC3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    decodeBlocks<BlockFormat::bc3, Both<ColourBlocks<kRgbaBytes, Rule, true, kPair, kHalfBytes>,
                                        ChannelBlocks<kRgbaBytes, 3, Rule, false, kPair, 0>>>(data, len, outdata);
}

template <ColourRule Rule, bool Signed>
void decodeBC4(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    decodeBlocks<BlockFormat::bc4, ChannelBlocks<1, 0, Rule, Signed, kWhole, 0>>(data, len, outdata);
}

template <ColourRule Rule, bool Signed>
void decodeBC5(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    decodeBlocks<BlockFormat::bc5, Both<ChannelBlocks<2, 0, Rule, Signed, kPair, 0>,
                                        ChannelBlocks<2, 1, Rule, Signed, kPair, kHalfBytes>>>(data, len, outdata);
}

constexpr ColourRule design = ColourRule::design, gpu = ColourRule::gpu;

} // namespace

#undef NEON_STEP

const DecoderTable neonDecoders = {{
    /* bc1  */ {decodeBC1<design>, decodeBC1<gpu>},
    /* bc1a */ {decodeBC1A<design>, decodeBC1A<gpu>},
    /* bc2  */ {decodeBC2<design>, decodeBC2<gpu>},
    /* bc3  */ {decodeBC3<design>, decodeBC3<gpu>},
    /* bc4  */ {decodeBC4<design, false>, decodeBC4<gpu, false>},
    /* bc4s */ {decodeBC4<design, true>, decodeBC4<gpu, true>},
    /* bc5  */ {decodeBC5<design, false>, decodeBC5<gpu, false>},
    /* bc5s */ {decodeBC5<design, true>, decodeBC5<gpu, true>},
    /* bc7  */ {decodeBC7BlocksNEON, decodeBC7BlocksNEON},
    /* bc6h */ {decodeBC6HBlocksNEON, decodeBC6HBlocksNEON},
    /* bc6hs */ {decodeBC6HSBlocksNEON, decodeBC6HSBlocksNEON},
}};

#endif
