// The BC6H decoders: blocks worked by hand from the format's definition, in
// both forms, each decoded by the plain decoder and by every variant this CPU
// runs, under both colour rules (BC6H has one result). docs/formats.md works
// the same blocks.
#include "bc6h-decoder.h"
#include "bc6h-tables.h"
#include "block-decoder.h"
#include "decoder-variants.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
constexpr std::size_t kRowBytes = 24; // four pixels of three halves

// A block written field by field, lowest bit first, as the format stores it.
class BlockBits {
public:
    // A field may be wider than `value`: its bits past the 32 are zero.
    BlockBits &put(unsigned value, unsigned bits)
    {
        for (unsigned i = 0; i < bits; ++i, ++position_)
            if (i < 32 && (value >> i & 1u))
                bytes_[position_ / 8] |= static_cast<unsigned char>(1u << (position_ % 8));
        return *this;
    }
    // Bit `bit` of value alone, as a layout's v[bit] run stores it.
    BlockBits &bit(unsigned value, unsigned bit) { return put(value >> bit & 1u, 1); }

    Bytes bytes() const
    {
        EXPECT_EQ(position_, 128u) << "the fields do not fill the block";
        return Bytes(bytes_.begin(), bytes_.end());
    }

private:
    std::array<unsigned char, 16> bytes_{};
    unsigned position_ = 0;
};

// Red, green and blue half floats' bits.
struct Pixel {
    std::uint16_t r, g, b;
    bool operator==(const Pixel &o) const { return r == o.r && g == o.g && b == o.b; }
};

void PrintTo(const Pixel &p, std::ostream *out)
{
    char text[40];
    std::snprintf(text, sizeof text, "(%04X, %04X, %04X)", p.r, p.g, p.b);
    *out << text;
}

using Block = std::array<Pixel, 16>;

Block decodeOne(BlockDecodeFunction decode, const Bytes &block)
{
    unsigned char rows[4][kRowBytes];
    unsigned char *outdata[4] = {rows[0], rows[1], rows[2], rows[3]};
    decode(block.data(), block.size(), outdata);
    Block pixels;
    for (unsigned i = 0; i < 16; ++i) {
        const unsigned char *p = rows[i / 4] + 6 * (i % 4);
        pixels[i] = {static_cast<std::uint16_t>(p[0] | p[1] << 8), static_cast<std::uint16_t>(p[2] | p[3] << 8),
                     static_cast<std::uint16_t>(p[4] | p[5] << 8)};
    }
    return pixels;
}

// The block decoded alone by every variant this CPU runs (its own kernel or
// the one it falls back to), under both rules.
void expectPixels(BlockFormat format, const Bytes &block, const Block &expected)
{
    std::size_t count;
    const DecoderVariant *variants = decoderVariants(&count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!variants[i].supported())
            continue;
        for (unsigned r = 0; r < kColourRuleCount; ++r) {
            const Block got = decodeOne(variantDecoder(variants[i], format, ColourRule(r)), block);
            for (unsigned k = 0; k < 16; ++k)
                EXPECT_EQ(got[k], expected[k]) << variants[i].name << " " << blockFormatInfo(format).name << " rule "
                                               << r << ", pixel " << k;
        }
    }
}

// Every pixel `fill`, except those given.
Block pixels(Pixel fill, std::vector<std::pair<unsigned, Pixel>> except = {})
{
    Block b;
    b.fill(fill);
    for (const auto &e : except)
        b[e.first] = e.second;
    return b;
}

// ---------------------------------------------------------------------------
// One block of each mode family, worked by hand. These catch a misread layout
// (order, reversed runs, the two-bit mode field), wrong sign extension or
// transform, wrong unquantisation or final scaling, and misread anchors.

// Mode 0x03, one region, ten-bit endpoints stored whole: e0 (0, 1023, 512),
// e1 (1023, 0, 0); pixel 1's index is 8 (weight 34), pixel 15's 15.
Bytes mode03Block()
{
    BlockBits b;
    b.put(0x03, 5).put(0, 10).put(1023, 10).put(512, 10).put(1023, 10).put(0, 10).put(0, 10);
    b.put(0, 3).put(8, 4);
    for (unsigned i = 2; i < 15; ++i)
        b.put(0, 4);
    b.put(15, 4);
    return b.bytes();
}

TEST(Bc6hModeFamilies, OneRegionUntransformedUnsigned)
{
    // Unquantised: 0 → 0, 1023 → 0xFFFF, 512 → (512·2^16 + 0x8000) >> 10 =
    // 32800; scaled by 31/64: 0, 0x7BFF, 0x3E0F. Pixel 1: (30·a + 34·b + 32)
    // >> 6 gives 34815, 30720 and 15375, scaled 0x41DF, 0x3A20, 0x1D17.
    expectPixels(BlockFormat::bc6h, mode03Block(),
                 pixels({0x0000, 0x7BFF, 0x3E0F}, {{1, {0x41DF, 0x3A20, 0x1D17}}, {15, {0x7BFF, 0x0000, 0x0000}}}));
}

TEST(Bc6hModeFamilies, OneRegionUntransformedSignedExtendsEveryEndpoint)
{
    // Signed: 1023 is −1 and 512 is −512. Unquantised on the magnitude: −1 →
    // −((1·2^15 + 0x4000) >> 9) = −96; −512 reaches 511 → −0x7FFF. Scaled by
    // 31/32 with the sign as bit 15: −96 → 0x805D, −0x7FFF → 0xFBFF. Pixel 1:
    // red (34·−96 + 32) >> 6 = −51 → 0x8031, green (30·−96 + 32) >> 6 = −45 →
    // 0x802B, blue (30·−32767 + 32) >> 6 = −15360 → 0xBA20.
    expectPixels(BlockFormat::bc6hs, mode03Block(),
                 pixels({0x0000, 0x805D, 0xFBFF}, {{1, {0x8031, 0x802B, 0xBA20}}, {15, {0x805D, 0x0000, 0x0000}}}));
}

// Mode 0x0F, one region, a 16-bit base stored as ten bits then six reversed
// (r0[10:15]: the first stored is bit 15) and 4-bit deltas: e0 (0x8000,
// 0x0400, 0xFFFF), deltas −1, +7, +1; pixel 15's index is 15.
Bytes mode0FBlock()
{
    BlockBits b;
    b.put(0x0F, 5).put(0, 10).put(0, 10).put(0x3FF, 10);
    b.put(0xF, 4).put(0x01, 6);                          // r1, then r0 bits 15 (1) down to 10
    b.put(0x7, 4).put(0x20, 6);                          // g1, then g0 bits 15 down to 10 (1)
    b.put(0x1, 4).put(0x3F, 6);                          // b1, then b0 bits 15 down to 10
    b.put(0, 3);
    for (unsigned i = 1; i < 15; ++i)
        b.put(0, 4);
    b.put(15, 4);
    return b.bytes();
}

TEST(Bc6hModeFamilies, OneRegionTransformedWrapsAndReversesBits)
{
    // Unsigned, 16 bits pass unquantised: e1 = (0x7FFF, 0x0407, 0x10000 wrapped
    // to 0). Scaled by 31/64: 0x8000 → 0x3E00, 0x0400 → 0x01F0, 0xFFFF →
    // 0x7BFF; 0x7FFF → 0x3DFF, 0x0407 → 0x01F3.
    expectPixels(BlockFormat::bc6h, mode0FBlock(),
                 pixels({0x3E00, 0x01F0, 0x7BFF}, {{15, {0x3DFF, 0x01F3, 0x0000}}}));
}

TEST(Bc6hModeFamilies, OneRegionTransformedSignedSixteenBits)
{
    // Signed: e0 (−32768, 1024, −1), e1 (32767, 1031, 0), passing
    // unquantised. −32768 scales to 0x7C00 with the sign (the format's one
    // infinity); −1 scales to a magnitude of 0 and so to +0, not −0.
    expectPixels(BlockFormat::bc6hs, mode0FBlock(),
                 pixels({0xFC00, 0x03E0, 0x0000}, {{15, {0x7BFF, 0x03E6, 0x0000}}}));
}

// Mode 0x07, one region, an 11-bit base (its top bit after the delta) and
// 9-bit deltas: e0 (1, 1024, 0), deltas −2, −1, −256.
Bytes mode07Block()
{
    BlockBits b;
    b.put(0x07, 5).put(1, 10).put(0, 10).put(0, 10);
    b.put(0x1FE, 9).put(0, 1).put(0x1FF, 9).put(1, 1).put(0x100, 9).put(0, 1);
    b.put(0, 3);
    for (unsigned i = 1; i < 15; ++i)
        b.put(0, 4);
    b.put(15, 4);
    return b.bytes();
}

TEST(Bc6hModeFamilies, DeltasAreSignedAndSumsWrapToTheBaseWidth)
{
    // Unsigned: e1 = (1 − 2 wrapped to 2047, 1023, −256 wrapped to 1792).
    // Unquantised ((v << 16) + 0x8000) >> 11: 1 → 48, 1024 → 32784, 2047 (all
    // ones) → 0xFFFF, 1023 → 32752, 1792 → 57360; scaled by 31/64: 0x0017,
    // 0x3E07, 0x7BFF, 0x3DF8, 0x6C87.
    expectPixels(BlockFormat::bc6h, mode07Block(),
                 pixels({0x0017, 0x3E07, 0x0000}, {{15, {0x7BFF, 0x3DF8, 0x6C87}}}));
}

TEST(Bc6hModeFamilies, SignedSumsAreSignExtendedToTheirExtremes)
{
    // Signed: e0 (1, −1024, 0), e1 (−1, 1023, −256). −1024 and 1023 reach the
    // magnitude 1023: ∓0x7FFF, scaled to 0xFBFF and 0x7BFF. ±1 → ±48 → ±46;
    // −256 → −((256·2^15 + 0x4000) >> 10) = −8208 → 0x9F0F.
    expectPixels(BlockFormat::bc6hs, mode07Block(),
                 pixels({0x002E, 0xFBFF, 0x0000}, {{15, {0x802E, 0x7BFF, 0x9F0F}}}));
}

// Mode 0x1E, two regions, 6-bit endpoints stored whole, partition 17
// (0111 0001 0000 0000: the second region's anchor is pixel 2). e0 (63, 0,
// 32), e1 (0, 63, 0), e2 (1, 0, 0), e3 (0, 0, 63). Indices: pixel 1 (region
// 1) 7, pixel 2 (anchor, two bits) 3, pixel 4 (region 0) 7, the rest 0.
Bytes mode1EBlock()
{
    const unsigned r0 = 63, g0 = 0, b0 = 32, r1 = 0, g1 = 63, b1 = 0, r2 = 1, g2 = 0, b2 = 0, r3 = 0, g3 = 0,
                   b3 = 63;
    BlockBits b;
    b.put(0x1E, 5).put(r0, 6).bit(g3, 4).bit(b3, 0).bit(b3, 1).bit(b2, 4).put(g0, 6).bit(g2, 5).bit(b2, 5);
    b.bit(b3, 2).bit(g2, 4).put(b0, 6).bit(g3, 5).bit(b3, 3).bit(b3, 5).bit(b3, 4).put(r1, 6).put(g2, 4);
    b.put(g1, 6).put(g3, 4).put(b1, 6).put(b2, 4).put(r2, 6).put(r3, 6);
    b.put(17, 5);
    b.put(0, 2).put(7, 3).put(3, 2).put(0, 3).put(7, 3);
    for (unsigned i = 5; i < 16; ++i)
        b.put(0, 3);
    return b.bytes();
}

TEST(Bc6hModeFamilies, TwoRegionsUntransformedWithAnAnchorInsideTheBlock)
{
    // Unquantised: 63 → 0xFFFF, 32 → 33280, 1 → 1536; scaled by 31/64:
    // 0x7BFF, 0x3EF8, 0x02E8. Pixel 2, weight 27 between e2 and e3: red
    // (37·1536 + 32) >> 6 = 888 → 0x01AE, blue (27·65535 + 32) >> 6 = 27648
    // → 0x3450. Region 1's other pixels (3 and 7) take e2.
    const Pixel e0 = {0x7BFF, 0x0000, 0x3EF8}, e2 = {0x02E8, 0x0000, 0x0000};
    expectPixels(BlockFormat::bc6h, mode1EBlock(),
                 pixels(e0, {{1, {0x0000, 0x0000, 0x7BFF}}, {2, {0x01AE, 0x0000, 0x3450}}, {3, e2},
                             {4, {0x0000, 0x7BFF, 0x0000}}, {7, e2}}));
}

TEST(Bc6hModeFamilies, TwoRegionsUntransformedSigned)
{
    // Signed: 63 is −1 → −((2^15 + 0x4000) >> 5) = −1536 → 0x85D0; −32
    // reaches the magnitude 31 → −0x7FFF → 0xFBFF; 1 → 1536 → 0x05D0. Pixel 2:
    // red (37·1536 + 32) >> 6 = 888 → 0x035C, blue (27·−1536 + 32) >> 6 = −648
    // → 0x8273.
    const Pixel e0 = {0x85D0, 0x0000, 0xFBFF}, e2 = {0x05D0, 0x0000, 0x0000};
    expectPixels(BlockFormat::bc6hs, mode1EBlock(),
                 pixels(e0, {{1, {0x0000, 0x0000, 0x85D0}}, {2, {0x035C, 0x0000, 0x8273}}, {3, e2},
                             {4, {0x0000, 0x85D0, 0x0000}}, {7, e2}}));
}

// Mode 0x00, named by its two low bits (the next three are g2[4], b2[4] and
// b3[4], all 1 here), two regions, a 10-bit base and 5-bit deltas, partition
// 0 (0011 repeated: anchor 15). e0 (1000, 5, 1020); deltas e1 (−1, −16, +15),
// e2 (0, −16, −16), e3 (+1, 0, −16).
Bytes mode00Block()
{
    const unsigned r0 = 1000, g0 = 5, b0 = 1020, r1 = 0x1F, g1 = 0x10, b1 = 0x0F, r2 = 0, g2 = 0x10, b2 = 0x10,
                   r3 = 1, g3 = 0, b3 = 0x10;
    BlockBits b;
    b.put(0, 2).bit(g2, 4).bit(b2, 4).bit(b3, 4).put(r0, 10).put(g0, 10).put(b0, 10).put(r1, 5).bit(g3, 4);
    b.put(g2, 4).put(g1, 5).bit(b3, 0).put(g3, 4).put(b1, 5).bit(b3, 1).put(b2, 4).put(r2, 5).bit(b3, 2);
    b.put(r3, 5).bit(b3, 3);
    b.put(0, 5);
    b.put(0, 2).put(7, 3).put(0, 3).put(7, 3);
    for (unsigned i = 4; i < 15; ++i)
        b.put(0, 3);
    b.put(3, 2);
    return b.bytes();
}

TEST(Bc6hModeFamilies, TwoRegionsTransformedNamedByTwoBits)
{
    // Endpoints after the transform, wrapped to 10 bits: e1 (999, 1013, 11),
    // e2 (1000, 1013, 1004), e3 (1001, 5, 1004). Each v (neither 0 nor 1023)
    // unquantises to 64·v + 32 and scales to 31·v + 15: 1000 → 0x7927, 5 →
    // 0x00AA, 1020 → 0x7B93, 999 → 0x7908, 1013 → 0x7ABA, 11 → 0x0164, 1004
    // → 0x79A3, 1001 → 0x7946. Pixel 15, weight 27 between e2 and e3: red
    // (37·64032 + 27·64096 + 32) >> 6 = 64059 → 0x7934, green (37·64864 +
    // 27·352 + 32) >> 6 = 37648 → 0x473B.
    const Pixel e0 = {0x7927, 0x00AA, 0x7B93}, e2 = {0x7927, 0x7ABA, 0x79A3};
    Block expected = pixels(e0, {{1, {0x7908, 0x7ABA, 0x0164}}, {3, {0x7946, 0x00AA, 0x79A3}},
                                 {15, {0x7934, 0x473B, 0x79A3}}});
    for (unsigned k : {2u, 6u, 7u, 10u, 11u, 14u})
        expected[k] = e2;
    expectPixels(BlockFormat::bc6h, mode00Block(), expected);
}

// ---------------------------------------------------------------------------
// Modes that are not there. These catch a reserved value decoded as a mode.

TEST(Bc6hReservedModes, DecodeToZerosInBothForms)
{
    for (unsigned low5 : {0x13u, 0x17u, 0x1Bu, 0x1Fu}) {
        Bytes block(16, 0xFF);
        block[0] = static_cast<unsigned char>(0xE0 | low5);
        expectPixels(BlockFormat::bc6h, block, pixels({0, 0, 0}));
        expectPixels(BlockFormat::bc6hs, block, pixels({0, 0, 0}));
    }
}

// ---------------------------------------------------------------------------
// Placement and length. These catch a block written at the wrong offset or a
// tail read as a block.

TEST(Bc6hPlacement, EachBlockLandsAtItsOwnTwentyFourBytesAndTheTailIsIgnored)
{
    Bytes input = mode07Block();
    const Bytes second = mode0FBlock();
    input.insert(input.end(), second.begin(), second.end());
    input.insert(input.end(), 15, 0xAB);
    std::size_t count;
    const DecoderVariant *variants = decoderVariants(&count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!variants[i].supported())
            continue;
        std::vector<unsigned char> planes[4];
        unsigned char *outdata[4];
        for (int yo = 0; yo < 4; ++yo) {
            planes[yo].assign(2 * kRowBytes + 1, 0xA5);
            outdata[yo] = planes[yo].data();
        }
        variantDecoder(variants[i], BlockFormat::bc6h, ColourRule::design)(input.data(), input.size(), outdata);
        // Row 3's last pixel of each block: e1 of mode07Block, then of mode0FBlock.
        const std::vector<unsigned char> lastOfFirst = {0xFF, 0x7B, 0xF8, 0x3D, 0x87, 0x6C};
        const std::vector<unsigned char> lastOfSecond = {0xFF, 0x3D, 0xF3, 0x01, 0x00, 0x00};
        EXPECT_EQ(std::vector<unsigned char>(planes[3].begin() + 18, planes[3].begin() + 24), lastOfFirst)
            << variants[i].name;
        EXPECT_EQ(std::vector<unsigned char>(planes[3].begin() + 42, planes[3].begin() + 48), lastOfSecond)
            << variants[i].name;
        for (int yo = 0; yo < 4; ++yo)
            EXPECT_EQ(planes[yo][2 * kRowBytes], 0xA5) << variants[i].name << ": written past plane " << yo;
    }
}

// ---------------------------------------------------------------------------
// Every variant against the plain decoder on blocks of each low five bits whose
// other bits lean to 0 or to 1, so that endpoints meet the unquantisation's
// edges (0, all ones, the signed magnitude's limit) and deltas wrap. These
// catch a vector kernel's slip in a mode's layout, an edge case or rounding.

// Every variant this CPU runs with a kernel of its own decodes `input` as the
// plain decoder does, in both forms.
void expectVariantsMatchPlain(const Bytes &input)
{
    const std::size_t rowBytes = input.size() / 16 * kRowBytes;
    std::size_t count;
    const DecoderVariant *variants = decoderVariants(&count);
    for (BlockFormat format : {BlockFormat::bc6h, BlockFormat::bc6hs}) {
        std::vector<unsigned char> expected[4];
        unsigned char *expectedData[4];
        for (int yo = 0; yo < 4; ++yo) {
            expected[yo].resize(rowBytes);
            expectedData[yo] = expected[yo].data();
        }
        variantDecoder(variants[0], format, ColourRule::design)(input.data(), input.size(), expectedData);
        for (std::size_t i = 1; i < count; ++i) {
            if (!variants[i].supported() || !variantHasOwnDecoder(variants[i], format, ColourRule::design))
                continue;
            std::vector<unsigned char> got[4];
            unsigned char *outdata[4];
            for (int yo = 0; yo < 4; ++yo) {
                got[yo].resize(rowBytes);
                outdata[yo] = got[yo].data();
            }
            variantDecoder(variants[i], format, ColourRule::design)(input.data(), input.size(), outdata);
            for (int yo = 0; yo < 4; ++yo)
                EXPECT_EQ(got[yo], expected[yo]) << variants[i].name << " " << blockFormatInfo(format).name << ", row " << yo;
        }
    }
}

TEST(Bc6hVariants, EveryModeWithEndpointsAtTheEdgesMatchesThePlainDecoder)
{
    std::mt19937 rng(6);
    Bytes input;
    for (unsigned low5 = 0; low5 < 32; ++low5)
        for (unsigned lean = 0; lean < 3; ++lean)
            for (unsigned n = 0; n < 40; ++n) {
                Bytes block(16);
                for (unsigned char &byte : block) {
                    const unsigned r = rng(), s = rng();
                    byte = static_cast<unsigned char>(lean == 0 ? r & s : lean == 1 ? r | s : r);
                }
                block[0] = static_cast<unsigned char>((block[0] & 0xE0u) | low5);
                input.insert(input.end(), block.begin(), block.end());
            }
    expectVariantsMatchPlain(input);
}

// Signed blocks are first decoded as if no endpoint were negative, and a
// lane group with a negative one again in the signed form. Endpoints on
// either side of the sign (0, 1, the largest magnitude and one below it,
// the most negative value, −1), in the first endpoint and through deltas
// of 0, +1 and −1 in the others from the second endpoint or from the
// second region on (which cross zero and the largest magnitude), catch a
// largest value not scaled to 0x7FFF, a negative endpoint the group's test
// misses (in either region, or made by a delta) and a group left over or
// redone in the wrong place. Blocks of each mode
// stand alone and among blocks of the same mode with no negative endpoint,
// so that each variant's lane groups hold one negative block or several.
// Random bits under the mode's code.
Bytes randomBlockOf(const Bc6hMode &mode, std::mt19937 &rng)
{
    Bytes block(16);
    for (unsigned char &byte : block)
        byte = static_cast<unsigned char>(rng());
    block[0] = static_cast<unsigned char>((block[0] & ~((1u << mode.modeBits) - 1)) | mode.number);
    return block;
}

// Stored component k of the block set to the low bits of `value`.
void putComponent(Bytes &block, const Bc6hMode &mode, unsigned k, unsigned value)
{
    for (unsigned bit = 0; bit < bc6hComponentBits(mode, k); ++bit) {
        const unsigned at = bc6hBlockBit(mode, k, bit);
        block[at / 8] = static_cast<unsigned char>((block[at / 8] & ~(1u << at % 8)) | (value >> bit & 1u) << at % 8);
    }
}

TEST(Bc6hVariants, SignedEndpointsAtTheSignMatchThePlainDecoder)
{
    std::mt19937 rng(9);
    Bytes input;
    for (unsigned m = 0; m < kBc6hModes; ++m) {
        const Bc6hMode &mode = Bc6hTables::modes[m];
        const unsigned sign = 1u << (mode.endpointBits - 1);
        for (unsigned first : {0u, 1u, sign - 2, sign - 1, sign, 2 * sign - 1})
            for (int delta : {0, 1, -1})
                for (unsigned from = 1; from <= 2; ++from) // the first endpoint given the delta
                    for (unsigned neighbours = 0; neighbours < 3; ++neighbours) {
                        Bytes block = randomBlockOf(mode, rng);
                        for (unsigned k = 0; k < 6u * mode.regions; ++k) {
                            // Untransformed endpoints are whole values: the first's plus the delta.
                            const unsigned d = k / kBc6hChannels >= from ? static_cast<unsigned>(delta) : 0;
                            putComponent(block, mode, k, k < kBc6hChannels ? first : mode.transformed ? d : first + d);
                        }
                        input.insert(input.end(), block.begin(), block.end());
                        for (unsigned n = 0; n < neighbours; ++n) {
                            Bytes calm = randomBlockOf(mode, rng);
                            bc6hClearEndpointSigns(calm.data(), mode);
                            input.insert(input.end(), calm.begin(), calm.end());
                        }
                    }
    }
    expectVariantsMatchPlain(input);
}

// The vector kernels cut each mode's endpoint fields in pieces (a run split
// where it spans more than two bytes, a reversed run bit by bit), each piece
// shifted its own way. Each endpoint bit alone, under indices of all zeros
// (the first endpoint of each region shows) and of all ones (the second),
// catches a piece cut from the wrong bits, shifted to the wrong place or
// lost, which random blocks can hide behind their other bits.
TEST(Bc6hVariants, EachEndpointBitAloneMatchesThePlainDecoder)
{
    // Each mode's code and its header's end (mode, endpoints and partition bits).
    const struct {
        unsigned code, modeBits, headerBits;
    } modes[] = {{0x00, 2, 82}, {0x01, 2, 82}, {0x02, 5, 82}, {0x06, 5, 82}, {0x0A, 5, 82},
                 {0x0E, 5, 82}, {0x12, 5, 82}, {0x16, 5, 82}, {0x1A, 5, 82}, {0x1E, 5, 82},
                 {0x03, 5, 65}, {0x07, 5, 65}, {0x0B, 5, 65}, {0x0F, 5, 65}};
    Bytes input;
    for (const auto &mode : modes)
        for (unsigned bit = mode.modeBits; bit < mode.headerBits; ++bit)
            for (bool indicesSet : {false, true}) {
                BlockBits b;
                b.put(mode.code, mode.modeBits).put(0, bit - mode.modeBits).put(1, 1);
                b.put(0, mode.headerBits - bit - 1);
                for (unsigned done = mode.headerBits; done < 128; done += 16)
                    b.put(indicesSet ? 0xFFFFu : 0u, 128 - done < 16 ? 128 - done : 16);
                const Bytes block = b.bytes();
                input.insert(input.end(), block.begin(), block.end());
            }
    expectVariantsMatchPlain(input);
}

} // namespace
