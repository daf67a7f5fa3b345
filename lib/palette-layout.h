// The palette arithmetic and layout that the vector decoders share.
//
// They compute a block's palette in 16-bit lanes. An endpoint c (RGB565) is
// expanded without per-lane shifts: a multiply-high by 2^k is a right shift by
// 16 - k, and a multiply-low by 2^k a left shift by k, so with one mask and
// one multiplier per lane
//   red   = (c & 0xF800) >> 8 = mulhi(c & 0xF800, 1 << 8)
//   green = (c & 0x07E0) >> 3 = mulhi(c & 0x07E0, 1 << 13)
//   blue  = (c & 0x001F) << 3 = mullo(c & 0x001F, 1 << 3)
// and the four-colour mode's divisions by 3 are a multiply-high by kOneThird.
// The NEON decoder takes the same fields in byte form.
#ifndef PALETTE_LAYOUT_H
#define PALETTE_LAYOUT_H

#include "decoder-variants.h"

constexpr short kRedMask = -0x800, kGreenMask = 0x07E0, kBlueMask = 0x001F; // -0x800 is 0xF800
constexpr short kRedHigh = 1 << 8, kGreenHigh = 1 << 13, kBlueLow = 1 << 3;

// x / 3 == (x · kOneThird) >> 16 for every sum the palette divides: at most
// 2 · 252 + 252 = 756.
constexpr unsigned kOneThird = 0x5556;
constexpr bool oneThirdIsExactUpTo(unsigned limit)
{
    for (unsigned x = 0; x <= limit; ++x)
        if (x / 3 != (x * kOneThird) >> 16)
            return false;
    return true;
}
static_assert(oneThirdIsExactUpTo(756), "the multiply-high must divide every palette sum by 3");

// The gpu rule widens by copying a field's high bits into its low ones:
// (v << 3) | (v >> 2) for five bits, (v << 2) | (v >> 4) for six. A second
// power of two in the same multiplier adds the right shift, exactly, since
// the first product is a multiple of 2^16: red is mulhi(v << 11, 2^8 + 2^3)
// = 8v + v / 4, green mulhi(v << 5, 2^13 + 2^7) = 4v + v / 16, and blue adds
// mulhi(v, 2^14) = v / 4 to its multiply-low. The sums are the bit copies,
// as v / 4 < 8 and v / 16 < 4.
constexpr short kRedHighCopied = kRedHigh + (1 << 3), kGreenHighCopied = kGreenHigh + (1 << 7);
constexpr short kBlueHighCopied = 1 << 14;
constexpr bool widensByCopyingBits()
{
    for (unsigned v = 0; v < 64; ++v) {
        const unsigned five = v & 31u;
        if (((five << 11) * unsigned(kRedHighCopied)) >> 16 != ((five << 3) | (five >> 2)) ||
            (((v << 5) * unsigned(kGreenHighCopied)) >> 16) != ((v << 2) | (v >> 4)) ||
            (((five * unsigned(kBlueHighCopied)) >> 16) | five * unsigned(kBlueLow)) != ((five << 3) | (five >> 2)))
            return false;
    }
    return true;
}
static_assert(widensByCopyingBits(), "the gpu rule's multipliers must copy the high bits");

// The gpu rule rounds the thirds: (x + 1) / 3 == (x · kOneThirdRounded + 2^14)
// >> 15, a rounding multiply-high, for every sum it divides: at most 3 · 255.
constexpr unsigned kOneThirdRounded = 0x2AAB;
constexpr bool oneThirdRoundedIsExactUpTo(unsigned limit)
{
    for (unsigned x = 0; x <= limit; ++x)
        if ((x + 1) / 3 != (x * kOneThirdRounded + (1u << 14)) >> 15)
            return false;
    return true;
}
static_assert(oneThirdRoundedIsExactUpTo(765), "the rounding multiply-high must round every palette sum's third");

// Channel blocks (BC3's alpha, BC4, BC5) are computed in 16-bit lanes, both
// modes with one division: the eight-value mode's weights (sevenths) are
// scaled by 5 and the six-value mode's (fifths) by 7, so that value j of
// either is (w0(j) · e0 + w1(j) · e1 + bias) / 35, endpoints included (35, 0
// and 0, 35). The division is a multiply-high by kOneThirtyFifth and a shift
// right by 2, of the sum (unsigned endpoints), of its magnitude (signed
// ones, truncated toward zero), or of the sum offset by 127 · 35 (signed
// ones, rounded).
constexpr unsigned kChannelScale = 35;
constexpr unsigned kEightValueScale = kChannelScale / 7, kSixValueScale = kChannelScale / 5;
constexpr unsigned kOneThirtyFifth = 7490; // 2^18 / 35, rounded up
constexpr unsigned kOneThirtyFifthShift = 2;
// The largest sum: 255 · 35 and a bias below 35.
constexpr unsigned kLargestChannelSum = 255 * kChannelScale + kChannelScale - 1;
constexpr bool oneThirtyFifthIsExactUpTo(unsigned limit)
{
    for (unsigned x = 0; x <= limit; ++x)
        if (x / kChannelScale != ((x * kOneThirtyFifth) >> 16) >> kOneThirtyFifthShift)
            return false;
    return true;
}
static_assert(oneThirtyFifthIsExactUpTo(kLargestChannelSum), "the multiply-high must divide every channel sum by 35");
static_assert(kLargestChannelSum <= 0x7FFF, "channel sums must fit signed 16-bit lanes");

// The palette steps' division, as the plain decoder defines it: the design
// rule truncates, the gpu rule rounds to nearest by adding half the divisor
// (rounded down) first. Signed sums are divided as magnitudes, so they round
// away from zero at halves, which division by 3, 5 or 7 never meets.
constexpr int paletteDivide(ColourRule rule, int divisor, int sum)
{
    const int bias = rule == ColourRule::gpu ? divisor / 2 : 0;
    return sum >= 0 ? (sum + bias) / divisor : -((-sum + bias) / divisor);
}

// The NEON decoder divides channel sums by each mode's own divisor instead:
// it builds a value's sum from the last one with one addition, so a scale to
// 35 would cost it a shift a value. The doubling multiply-high, (2·S·m) >> 16,
// takes a multiplier chosen per lane; the design rule truncates, adding the
// sign bit back for negative sums (whose multiply-high rounds down), the gpu
// rule rounds with its rounding form, whose halves never occur for 5 and 7.
constexpr int kEightValueDivisor = 7, kSixValueDivisor = 5;
constexpr short kOneSeventh = 4682, kOneFifth = 6554;
constexpr int kLeastSignedChannel = -127; // a signed endpoint of -128 reads as -127

// Arithmetic shift right by 16 of a possibly negative product, as the
// instructions do it.
constexpr long floorShift16(long x)
{
    return x >= 0 ? x >> 16 : -((-x + 0xFFFF) >> 16);
}

constexpr int doublingDivide(int sum, short multiplier, ColourRule rule)
{
    return rule == ColourRule::gpu ? int(floorShift16(2L * sum * multiplier + 0x8000))
                                   : int(floorShift16(2L * sum * multiplier)) + (sum < 0 ? 1 : 0);
}

constexpr bool doublingDivisionIsExact(int divisor, short multiplier)
{
    for (unsigned r = 0; r < kColourRuleCount; ++r)
        for (int sum = kLeastSignedChannel * divisor; sum <= 255 * divisor; ++sum)
            if (doublingDivide(sum, multiplier, ColourRule(r)) != paletteDivide(ColourRule(r), divisor, sum))
                return false;
    return true;
}
static_assert(doublingDivisionIsExact(kEightValueDivisor, kOneSeventh), "the multiplier must divide every sum by 7");
static_assert(doublingDivisionIsExact(kSixValueDivisor, kOneFifth), "the multiplier must divide every sum by 5");

#endif
