// NEON decoder (AArch64): sixteen blocks at a time, one block per byte lane.
//
// A group's endpoints are loaded with a de-interleaving load, so that every
// palette colour of every block is one byte lane of one register: colour k of
// component red is red.val[k], block j at lane j. A four-register table
// lookup with index 16·k + j then picks any block's colour k, so a plane row
// of four blocks is three lookups (red, green, blue) and one interleaving
// store of the 48 bytes. RGBA adds alpha as a fourth component, whose colour 3
// is the four-colour mode's mask itself (255, or 0 in the three-colour mode):
// four lookups and a 64-byte store. The blocks after the last whole group are
// decoded through a staging copy, so that nothing outside the input and the
// planes is touched. One kernel writes RGB and RGBA, its pixel size a
// template parameter.
#include "bc7-decoder.h"
#include "decoder-variants.h"

#ifdef DXT1_HAVE_NEON_VARIANT

#include <arm_neon.h>

#include <cstring>

#include "palette-layout.h"

namespace {

constexpr std::size_t kGroupBlocks = 16;                 // one block per byte lane
constexpr std::size_t kQuadBlocks = 4;                   // blocks per interleaving store: 48 bytes of a plane
constexpr std::size_t kBlockBytes = 8;                   // a block's input

// The endpoint fields in byte form, from the 16-bit masks the vector decoders
// share: red is the high byte's top five bits, green bits 3-10 of the
// endpoint with its low two bits cleared, blue the low byte shifted left.
constexpr unsigned char kRedByteMask = static_cast<unsigned short>(kRedMask) >> 8;
constexpr int kGreenShift = 3;
constexpr unsigned char kGreenByteMask = kGreenMask >> kGreenShift;
constexpr int kBlueShift = 3;
static_assert(kRedByteMask == 0xF8 && kGreenByteMask == 0xFC && (1 << kBlueShift) == kBlueLow,
              "the byte fields must be the 16-bit fields, shifted");

// The signed doubling multiply-high computes (2·x·m) >> 16, so half the
// multiplier gives the shared multiply-high by kOneThird.
constexpr short kOneThirdDoubling = kOneThird / 2;
static_assert(2 * kOneThirdDoubling == kOneThird, "kOneThird must be even");

// The palettes of a group, component by component (red, green, blue, then
// for RGBA alpha): component[c].val[k] holds colour k of every block, block j
// in byte lane j.
template <unsigned PixelBytes>
struct GroupPalettes {
    uint8x16x4_t component[PixelBytes];
};

// The pixels of a quad's row: one lookup per component, one interleaving store.
inline void storeQuadRow(unsigned char *out, const GroupPalettes<kRgbBytes> &palettes, uint8x16_t index)
{
    const uint8x16x3_t pixels = {{vqtbl4q_u8(palettes.component[0], index), vqtbl4q_u8(palettes.component[1], index),
                                  vqtbl4q_u8(palettes.component[2], index)}};
    vst3q_u8(out, pixels);
}

inline void storeQuadRow(unsigned char *out, const GroupPalettes<kRgbaBytes> &palettes, uint8x16_t index)
{
    const uint8x16x4_t pixels = {{vqtbl4q_u8(palettes.component[0], index), vqtbl4q_u8(palettes.component[1], index),
                                  vqtbl4q_u8(palettes.component[2], index), vqtbl4q_u8(palettes.component[3], index)}};
    vst4q_u8(out, pixels);
}

// Alpha's palettes: colours 0 to 2 opaque, colour 3 opaque in the four-colour
// mode alone.
inline void setAlpha(GroupPalettes<kRgbBytes> &, uint8x16_t) {}

inline void setAlpha(GroupPalettes<kRgbaBytes> &palettes, uint8x16_t fourColour)
{
    const uint8x16_t opaque = vdupq_n_u8(255);
    palettes.component[3] = {{opaque, opaque, opaque, fourColour}};
}

struct Endpoints {
    uint8x16_t red, green, blue;
};

// The expanded components of 16 endpoints held in two registers of 16-bit lanes.
inline Endpoints expand(uint16x8_t first, uint16x8_t second)
{
    const uint8x16_t low = vuzp1q_u8(vreinterpretq_u8_u16(first), vreinterpretq_u8_u16(second));
    const uint8x16_t high = vuzp2q_u8(vreinterpretq_u8_u16(first), vreinterpretq_u8_u16(second));
    const uint8x16_t green = vshrn_high_n_u16(vshrn_n_u16(first, kGreenShift), second, kGreenShift);
    return {vandq_u8(high, vdupq_n_u8(kRedByteMask)), vandq_u8(green, vdupq_n_u8(kGreenByteMask)),
            vshlq_n_u8(low, kBlueShift)};
}

// x / 3 for the 16 sums in `first` and `second` (each at most 756), as bytes.
inline uint8x16_t thirds(uint16x8_t first, uint16x8_t second)
{
    const int16x8_t oneThird = vdupq_n_s16(kOneThirdDoubling);
    const int16x8_t a = vqdmulhq_s16(vreinterpretq_s16_u16(first), oneThird);
    const int16x8_t b = vqdmulhq_s16(vreinterpretq_s16_u16(second), oneThird);
    return vuzp1q_u8(vreinterpretq_u8_s16(a), vreinterpretq_u8_s16(b));
}

// One component's four colours for 16 blocks; `fourColour` is all ones in
// the lanes of blocks with c0 > c1.
inline uint8x16x4_t componentPalettes(uint8x16_t e0, uint8x16_t e1, uint8x16_t fourColour)
{
    const uint16x8_t sumFirst = vaddl_u8(vget_low_u8(e0), vget_low_u8(e1)), sumSecond = vaddl_high_u8(e0, e1);
    // Four-colour mode: (2·e0 + e1) / 3 and (e0 + 2·e1) / 3.
    const uint8x16_t nearFirst = thirds(vaddw_u8(sumFirst, vget_low_u8(e0)), vaddw_high_u8(sumSecond, e0));
    const uint8x16_t nearSecond = thirds(vaddw_u8(sumFirst, vget_low_u8(e1)), vaddw_high_u8(sumSecond, e1));
    // Three-colour mode: (e0 + e1) >> 1, and black.
    const uint8x16_t halfway = vhaddq_u8(e0, e1);
    return {{e0, e1, vbslq_u8(fourColour, nearFirst, halfway), vandq_u8(fourColour, nearSecond)}};
}

// Lane 4q + xo of a quad's row: block q of the quad (quad g of the group holds
// blocks 4g to 4g + 3), whose index byte for that row is spread to all four
// columns. The same values are the block numbers of the table index.
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

// Decodes the 16 blocks at `blocks` into the first 16 · 4 · PixelBytes bytes
// at each of `out`. Inlined into both of its calls, so that the constants stay
// in registers across the main loop.
template <unsigned PixelBytes>
__attribute__((always_inline)) inline void decodeGroup(const unsigned char *blocks, unsigned char *const out[4])
{
    // val[0] to val[3]: c0, c1, the index bytes of rows 0 and 1, and of rows 2 and 3.
    const uint16x8x4_t first = vld4q_u16(reinterpret_cast<const uint16_t *>(blocks));
    const uint16x8x4_t second = vld4q_u16(reinterpret_cast<const uint16_t *>(blocks + kGroupBlocks / 2 * kBlockBytes));

    // c0 > c1 (unsigned) selects the four-colour mode.
    const uint8x16_t fourColour = vuzp1q_u8(vreinterpretq_u8_u16(vcgtq_u16(first.val[0], first.val[1])),
                                            vreinterpretq_u8_u16(vcgtq_u16(second.val[0], second.val[1])));
    const Endpoints e0 = expand(first.val[0], second.val[0]), e1 = expand(first.val[1], second.val[1]);
    GroupPalettes<PixelBytes> palettes;
    palettes.component[0] = componentPalettes(e0.red, e1.red, fourColour);
    palettes.component[1] = componentPalettes(e0.green, e1.green, fourColour);
    palettes.component[2] = componentPalettes(e0.blue, e1.blue, fourColour);
    setAlpha(palettes, fourColour);

    // Row yo's index byte of every block, block j in lane j.
    const uint8x16_t rows01First = vreinterpretq_u8_u16(first.val[2]), rows01Second = vreinterpretq_u8_u16(second.val[2]);
    const uint8x16_t rows23First = vreinterpretq_u8_u16(first.val[3]), rows23Second = vreinterpretq_u8_u16(second.val[3]);
    const uint8x16_t rows[4] = {vuzp1q_u8(rows01First, rows01Second), vuzp2q_u8(rows01First, rows01Second),
                                vuzp1q_u8(rows23First, rows23Second), vuzp2q_u8(rows23First, rows23Second)};

    const int8x16_t shifts = vld1q_s8(columnToColour);
    const uint8x16_t colourBits = vdupq_n_u8(kColourBits);
    for (unsigned quad = 0; quad < kGroupBlocks / kQuadBlocks; ++quad) {
        const uint8x16_t blocksOfQuad = vld1q_u8(quadBlocks[quad]);
        for (unsigned yo = 0; yo < 4; ++yo) {
            const uint8x16_t spread = vqtbl1q_u8(rows[yo], blocksOfQuad);
            // 16 · colour + block: the colour from the shifted index byte, the block from the lane.
            const uint8x16_t index = vbslq_u8(colourBits, vshlq_u8(spread, shifts), blocksOfQuad);
            storeQuadRow(out[yo] + quad * kQuadBlocks * 4 * PixelBytes, palettes, index);
        }
    }
}

template <unsigned PixelBytes>
void decodeBlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    constexpr std::size_t rowBytes = 4 * PixelBytes; // a block's pixels in one plane
    // The plane pointers are copied, so that the compiler need not reload
    // them after each store in case the store changed them.
    unsigned char *out[4] = {outdata[0], outdata[1], outdata[2], outdata[3]};
    const unsigned char *block = data;
    std::size_t rest = len / kBlockBytes;
    for (; rest >= kGroupBlocks; rest -= kGroupBlocks, block += kGroupBlocks * kBlockBytes) {
        decodeGroup<PixelBytes>(block, out);
        for (unsigned char *&plane : out)
            plane += kGroupBlocks * rowBytes;
    }

    // The last 1 to 15 blocks: decoded from a zero-padded copy into staging
    // planes, of which only their own bytes are copied out.
    if (rest == 0)
        return;
    unsigned char input[kGroupBlocks * kBlockBytes] = {};
    unsigned char staged[4][kGroupBlocks * rowBytes];
    unsigned char *const stagedPlanes[4] = {staged[0], staged[1], staged[2], staged[3]};
    std::memcpy(input, block, rest * kBlockBytes);
    decodeGroup<PixelBytes>(input, stagedPlanes);
    for (unsigned yo = 0; yo < 4; ++yo)
        std::memcpy(out[yo], staged[yo], rest * rowBytes);
}

} // namespace
// DXT1 under the design rule and BC7; the other entries fall back.
const DecoderTable neonDecoders = {{
    /* bc1  */ {decodeBlocks<kRgbBytes>, nullptr},
    /* bc1a */ {decodeBlocks<kRgbaBytes>, nullptr},
    /* bc2 to bc5s: the slower variants' */ {}, {}, {}, {}, {}, {},
    /* bc7  */ {decodeBC7BlocksNEON, decodeBC7BlocksNEON},
}};

#endif
