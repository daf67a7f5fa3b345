// The BC7 decoders: blocks worked by hand from the format's definition,
// decoded by every variant, the tables' own consistency, and the plain
// decoder's contract. Every vector variant runs against the plain decoder on
// random blocks of each mode, every partition, every short length, guard
// pages and misaligned planes in variants-test.cpp, with every other format.
#include "bc7-decoder.h"
#include "bc7-tables.h"
#include "block-sources.h"
#include "guarded-decode.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

using Decode = BlockDecodeFunction;
constexpr std::size_t kRowBytes = 16; // four RGBA pixels

// A block written field by field, lowest bit first, as the format stores it.
class BlockBits {
public:
    BlockBits &put(unsigned value, unsigned bits)
    {
        for (unsigned i = 0; i < bits; ++i, ++position_)
            if (value >> i & 1u)
                bytes_[position_ / 8] |= static_cast<unsigned char>(1u << (position_ % 8));
        return *this;
    }
    // A mode: its number of zero bits, then a one.
    BlockBits &mode(unsigned number) { return put(1u << number, number + 1); }

    Bytes bytes() const
    {
        EXPECT_EQ(position_, 128u) << "the fields do not fill the block";
        return Bytes(bytes_.begin(), bytes_.end());
    }

private:
    std::array<unsigned char, 16> bytes_{};
    unsigned position_ = 0;
};

struct Pixel {
    unsigned char r, g, b, a;
    bool operator==(const Pixel &o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
};

void PrintTo(const Pixel &p, std::ostream *out)
{
    *out << "(" << int(p.r) << ", " << int(p.g) << ", " << int(p.b) << ", " << int(p.a) << ")";
}

using Block = std::array<Pixel, 16>;

Block decodeOne(Decode decode, const Bytes &block)
{
    unsigned char rows[4][kRowBytes];
    unsigned char *outdata[4] = {rows[0], rows[1], rows[2], rows[3]};
    decode(block.data(), block.size(), outdata);
    Block pixels;
    for (unsigned i = 0; i < 16; ++i) {
        const unsigned char *p = rows[i / 4] + 4 * (i % 4);
        pixels[i] = {p[0], p[1], p[2], p[3]};
    }
    return pixels;
}

struct Variant {
    const char *name;
    Decode decode;
    bool supported;
};

// The vector variants with a BC7 kernel of their own, with whether this CPU runs them.
std::vector<Variant> variants()
{
    std::size_t count;
    const DecoderVariant *all = decoderVariants(&count);
    std::vector<Variant> result;
    for (std::size_t i = 1; i < count; ++i) // after the plain one
        if (variantHasOwnDecoder(all[i], BlockFormat::bc7, ColourRule::design))
            result.push_back({all[i].name, variantDecoder(all[i], BlockFormat::bc7, ColourRule::design),
                              all[i].supported()});
    return result;
}

// The block decoded alone by the plain decoder and by every variant this CPU runs.
void expectPixels(const Bytes &block, const Block &expected)
{
    std::vector<Variant> all = variants();
    all.insert(all.begin(), Variant{"plain", decodeBC7BlocksPlain, true});
    for (const Variant &variant : all) {
        if (!variant.supported)
            continue;
        const Block got = decodeOne(variant.decode, block);
        for (unsigned i = 0; i < 16; ++i)
            EXPECT_EQ(got[i], expected[i]) << variant.name << ", pixel " << i << " (x " << i % 4 << ", y " << i / 4 << ")";
    }
}

// Indices, each of `bits` bits except at the anchor pixels, one fewer.
void putIndices(BlockBits &block, const unsigned (&indices)[16], unsigned bits, std::vector<unsigned> anchors)
{
    for (unsigned i = 0; i < 16; ++i) {
        bool anchor = false;
        for (unsigned a : anchors)
            anchor = anchor || a == i;
        block.put(indices[i], anchor ? bits - 1 : bits);
    }
}

// ---------------------------------------------------------------------------
// Blocks worked by hand, each decoded by every decoder. Each comment gives
// the widened endpoints and the weights; the expected pixels were worked out
// from them with ((64 - w)·e0 + w·e1 + 32) >> 6. These catch a misread field (order, width,
// p-bit), wrong widening, a wrong table entry, wrong rounding, and mistakes in
// anchors, rotation and index selection.

TEST(Bc7HandWorked, NoModeBlockIsTransparentBlack)
{
    Bytes block(16, 0xFF);
    block[0] = 0;
    Block zeros;
    zeros.fill(Pixel{0, 0, 0, 0});
    expectPixels(block, zeros);
}

TEST(Bc7HandWorked, Mode6FromRawBytes)
{
    // Written out by hand from the bit positions, not with BlockBits:
    // mode 6 (bit 6), R 0 / 127, G 127 / 0, B 64 / 64, A 127 / 0 (7 bits
    // each), p-bits 0 and 1, then pixel 0's index in 3 bits (0) and pixel i's
    // in 4 bits (i). Endpoints: (0, 254, 128, 254) and (255, 1, 129, 1); the
    // weights are the whole 4-bit table. Blue crosses 128.5 between w 30 and 34.
    const Bytes block = {0x40, 0xC0, 0xFF, 0x0F, 0x00, 0x02, 0xFF, 0x00,
                         0x11, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
    expectPixels(block, {{{0, 254, 128, 254}, {16, 238, 128, 238}, {36, 218, 128, 218}, {52, 203, 128, 203},
                          {68, 187, 128, 187}, {84, 171, 128, 171}, {104, 151, 128, 151}, {120, 135, 128, 135},
                          {135, 120, 129, 120}, {151, 104, 129, 104}, {171, 84, 129, 84}, {187, 68, 129, 68},
                          {203, 52, 129, 52}, {219, 37, 129, 37}, {239, 17, 129, 17}, {255, 1, 129, 1}}});
    BlockBits same;
    same.mode(6).put(0, 7).put(127, 7).put(127, 7).put(0, 7).put(64, 7).put(64, 7).put(127, 7).put(0, 7);
    same.put(0, 1).put(1, 1).put(0, 3);
    for (unsigned i = 1; i < 16; ++i)
        same.put(i, 4);
    EXPECT_EQ(same.bytes(), block) << "the test's block writer disagrees with the hand-written bytes";
}

TEST(Bc7HandWorked, Mode0ThreeSubsetsWithAnchorsAt3And8)
{
    // Partition 1 (0001 0011 2211 2221): anchors 0, 3 and 8 have 2-bit indices.
    // 4-bit colours and a p-bit per endpoint widen from 5 bits:
    // subset 0 (0,0,0) / (255,8,8); subset 1 (0,132,0) / (8,255,8);
    // subset 2 (8,8,90) / (0,0,165).
    BlockBits b;
    b.mode(0).put(1, 4);
    const unsigned red[6] = {0, 15, 0, 0, 0, 0}, green[6] = {0, 0, 8, 15, 0, 0}, blue[6] = {0, 0, 0, 0, 5, 10};
    for (unsigned v : red)
        b.put(v, 4);
    for (unsigned v : green)
        b.put(v, 4);
    for (unsigned v : blue)
        b.put(v, 4);
    for (unsigned p : {0, 1, 0, 1, 1, 0})
        b.put(p, 1);
    putIndices(b, {0, 7, 3, 3, 5, 1, 6, 2, 1, 4, 7, 0, 6, 2, 5, 4}, 3, {0, 3, 8});
    expectPixels(b.bytes(), {{{0, 0, 0, 255}, {255, 8, 8, 255}, {108, 3, 3, 255}, {3, 184, 3, 255},
                              {183, 6, 6, 255}, {36, 1, 1, 255}, {7, 238, 7, 255}, {2, 167, 2, 255},
                              {7, 7, 101, 255}, {3, 3, 133, 255}, {8, 255, 8, 255}, {0, 132, 0, 255},
                              {1, 1, 154, 255}, {6, 6, 111, 255}, {2, 2, 144, 255}, {5, 203, 5, 255}}});
}

TEST(Bc7HandWorked, Mode1SharedPBitsAndPartition35sAnchorAt8)
{
    // Partition 35 (0011 0011 1100 1100): subset 1's anchor is pixel 8, so
    // pixel 2 keeps three bits (index 7) and pixel 8 has two. Shared p-bits
    // 1 and 0 widen the 6-bit colours to 7 bits: subset 0 (2,2,2) /
    // (255,255,255), subset 1 (253,0,0) / (0,0,253).
    BlockBits b;
    b.mode(1).put(35, 6);
    for (unsigned v : {0, 63, 63, 0}) // red: subset 0's endpoints, then subset 1's
        b.put(v, 6);
    for (unsigned v : {0, 63, 0, 0})
        b.put(v, 6);
    for (unsigned v : {0, 63, 0, 63})
        b.put(v, 6);
    b.put(1, 1).put(0, 1);
    putIndices(b, {0, 4, 7, 1, 2, 6, 3, 5, 2, 7, 1, 3, 0, 4, 5, 6}, 3, {0, 8});
    expectPixels(b.bytes(), {{{2, 2, 2, 255}, {148, 148, 148, 255}, {0, 0, 253, 255}, {217, 0, 36, 255},
                              {73, 73, 73, 255}, {219, 219, 219, 255}, {146, 0, 107, 255}, {71, 0, 182, 255},
                              {182, 0, 71, 255}, {0, 0, 253, 255}, {38, 38, 38, 255}, {109, 109, 109, 255},
                              {253, 0, 0, 255}, {107, 0, 146, 255}, {184, 184, 184, 255}, {219, 219, 219, 255}}});
}

TEST(Bc7HandWorked, Mode2ThreeSubsetsWithTheThirdSubsetsAnchorFirst)
{
    // Partition 2 (0000 2001 2211 2211): anchors 0, 15 (subset 1) and 8
    // (subset 2), so the third subset's anchor comes before the second's.
    // 5-bit colours, no p-bit: subset 0 (255,0,0) / (0,0,0), subset 1
    // (0,0,0) / (0,255,0), subset 2 (0,0,255) / (82,82,82).
    BlockBits b;
    b.mode(2).put(2, 6);
    for (unsigned v : {31, 0, 0, 0, 0, 10})
        b.put(v, 5);
    for (unsigned v : {0, 0, 0, 31, 0, 10})
        b.put(v, 5);
    for (unsigned v : {0, 0, 0, 0, 31, 10})
        b.put(v, 5);
    putIndices(b, {1, 3, 2, 0, 3, 1, 2, 3, 1, 2, 1, 2, 0, 3, 0, 1}, 2, {0, 8, 15});
    expectPixels(b.bytes(), {{{171, 0, 0, 255}, {0, 0, 0, 255}, {84, 0, 0, 255}, {255, 0, 0, 255},
                              {82, 82, 82, 255}, {171, 0, 0, 255}, {84, 0, 0, 255}, {0, 255, 0, 255},
                              {27, 27, 198, 255}, {55, 55, 139, 255}, {0, 84, 0, 255}, {0, 171, 0, 255},
                              {0, 0, 255, 255}, {82, 82, 82, 255}, {0, 0, 0, 255}, {0, 84, 0, 255}}});
}

TEST(Bc7HandWorked, Mode3PBitPerEndpointMakesEightBits)
{
    // Partition 0 (columns 2 and 3 in subset 1, anchor 15). 7-bit colours and
    // p-bits 1, 0, 1, 1: subset 0 (21,41,61) / (200,220,240), subset 1
    // (255,255,255) / (1,1,1).
    BlockBits b;
    b.mode(3).put(0, 6);
    for (unsigned v : {10, 100, 127, 0})
        b.put(v, 7);
    for (unsigned v : {20, 110, 127, 0})
        b.put(v, 7);
    for (unsigned v : {30, 120, 127, 0})
        b.put(v, 7);
    for (unsigned p : {1, 0, 1, 1})
        b.put(p, 1);
    putIndices(b, {0, 1, 2, 3, 1, 2, 3, 0, 2, 3, 0, 1, 3, 0, 1, 1}, 2, {0, 15});
    expectPixels(b.bytes(), {{{21, 41, 61, 255}, {80, 100, 120, 255}, {84, 84, 84, 255}, {1, 1, 1, 255},
                              {80, 100, 120, 255}, {141, 161, 181, 255}, {1, 1, 1, 255}, {255, 255, 255, 255},
                              {141, 161, 181, 255}, {200, 220, 240, 255}, {255, 255, 255, 255}, {172, 172, 172, 255},
                              {200, 220, 240, 255}, {21, 41, 61, 255}, {172, 172, 172, 255}, {172, 172, 172, 255}}});
}

// Mode 4's block for the two index selection tests: colour (0,255,132) /
// (255,0,132) from 5 bits, alpha 0 / 255 from 6; 2-bit indices equal to the
// pixel's row, 3-bit indices equal to its number modulo 8.
Bytes mode4Block(unsigned rotation, unsigned indexSelection)
{
    BlockBits b;
    b.mode(4).put(rotation, 2).put(indexSelection, 1);
    for (unsigned v : {0, 31, 31, 0, 16, 16})
        b.put(v, 5);
    b.put(0, 6).put(63, 6);
    unsigned rows[16], eighths[16];
    for (unsigned i = 0; i < 16; ++i) {
        rows[i] = i / 4;
        eighths[i] = i % 8;
    }
    putIndices(b, rows, 2, {0});
    putIndices(b, eighths, 3, {0});
    return b.bytes();
}

TEST(Bc7HandWorked, Mode4IndexSelectionBitClearGivesColourTheTwoBitIndices)
{
    // Colour by row: red 0, 84, 171, 255 and green the reverse; alpha from the
    // 3-bit weights 0, 9, ... 64: 0, 36, 72, 108, 147, 183, 219, 255.
    expectPixels(mode4Block(0, 0), {{{0, 255, 132, 0}, {0, 255, 132, 36}, {0, 255, 132, 72}, {0, 255, 132, 108},
                                     {84, 171, 132, 147}, {84, 171, 132, 183}, {84, 171, 132, 219}, {84, 171, 132, 255},
                                     {171, 84, 132, 0}, {171, 84, 132, 36}, {171, 84, 132, 72}, {171, 84, 132, 108},
                                     {255, 0, 132, 147}, {255, 0, 132, 183}, {255, 0, 132, 219}, {255, 0, 132, 255}}});
}

TEST(Bc7HandWorked, Mode4IndexSelectionBitSetThenRotationSwapsAlphaAndGreen)
{
    // The bit gives colour the 3-bit indices and alpha the 2-bit ones:
    // red 0, 36, ... 255 and green 255, 219, ... 0 along i % 8, alpha
    // 0, 84, 171, 255 by row. Rotation 2 then swaps alpha and green.
    expectPixels(mode4Block(2, 1), {{{0, 0, 132, 255}, {36, 0, 132, 219}, {72, 0, 132, 183}, {108, 0, 132, 147},
                                     {147, 84, 132, 108}, {183, 84, 132, 72}, {219, 84, 132, 36}, {255, 84, 132, 0},
                                     {0, 171, 132, 255}, {36, 171, 132, 219}, {72, 171, 132, 183}, {108, 171, 132, 147},
                                     {147, 255, 132, 108}, {183, 255, 132, 72}, {219, 255, 132, 36}, {255, 255, 132, 0}}});
}

TEST(Bc7HandWorked, Mode5RotationSwapsAlphaAndRed)
{
    // 7-bit colours (0,129,255) / (255,129,0), 8-bit alpha 16 / 240. Colour
    // indices are the column, alpha indices the row: before rotation red
    // 0, 84, 171, 255 and blue the reverse along x, alpha 16, 90, 167, 240
    // along y. Rotation 1 swaps alpha and red.
    BlockBits b;
    b.mode(5).put(1, 2);
    for (unsigned v : {0, 127, 64, 64, 127, 0})
        b.put(v, 7);
    b.put(16, 8).put(240, 8);
    unsigned columns[16], rows[16];
    for (unsigned i = 0; i < 16; ++i) {
        columns[i] = i % 4;
        rows[i] = i / 4;
    }
    putIndices(b, columns, 2, {0});
    putIndices(b, rows, 2, {0});
    const unsigned char alpha[4] = {16, 90, 167, 240}, red[4] = {0, 84, 171, 255};
    Block expected;
    for (unsigned i = 0; i < 16; ++i)
        expected[i] = {alpha[i / 4], 129, red[3 - i % 4], red[i % 4]};
    expectPixels(b.bytes(), expected);
}

TEST(Bc7HandWorked, Mode7AlphaPerSubsetWithAnchorAt2)
{
    // Partition 17 (0111 0001 0000 0000): subset 1's anchor is pixel 2, so
    // pixel 1 keeps two bits. 5-bit RGBA with a p-bit per endpoint: subset 0
    // (0,0,0,0) / (255,255,255,255), subset 1 (251,0,0,130) / (4,4,255,4).
    BlockBits b;
    b.mode(7).put(17, 6);
    for (unsigned v : {0, 31, 31, 0})
        b.put(v, 5);
    for (unsigned v : {0, 31, 0, 0})
        b.put(v, 5);
    for (unsigned v : {0, 31, 0, 31})
        b.put(v, 5);
    for (unsigned v : {0, 31, 16, 0})
        b.put(v, 5);
    for (unsigned p : {0, 1, 0, 1})
        b.put(p, 1);
    putIndices(b, {1, 3, 1, 2, 3, 2, 0, 0, 2, 1, 0, 3, 0, 3, 2, 1}, 2, {0, 2});
    const Pixel grey[4] = {{0, 0, 0, 0}, {84, 84, 84, 84}, {171, 171, 171, 171}, {255, 255, 255, 255}};
    expectPixels(b.bytes(), {{grey[1], {4, 4, 255, 4}, {170, 1, 84, 89}, {85, 3, 171, 45},
                              grey[3], grey[2], grey[0], {251, 0, 0, 130},
                              grey[2], grey[1], grey[0], grey[3],
                              grey[0], grey[3], grey[2], grey[1]}});
}

// ---------------------------------------------------------------------------
// The tables themselves: a mistyped anchor or partition entry that no
// hand-worked block reaches.

TEST(Bc7Tables, EveryAnchorLiesInItsSubsetAndPixel0InSubset0)
{
    for (unsigned p = 0; p < kBc7Partitions; ++p) {
        EXPECT_EQ(Bc7Tables::partitions2[p][0], 0) << "two subsets, partition " << p;
        EXPECT_EQ(Bc7Tables::partitions3[p][0], 0) << "three subsets, partition " << p;
        EXPECT_EQ(Bc7Tables::partitions2[p][Bc7Tables::anchors2[p]], 1) << "partition " << p;
        EXPECT_EQ(Bc7Tables::partitions3[p][Bc7Tables::anchors3Second[p]], 1) << "partition " << p;
        EXPECT_EQ(Bc7Tables::partitions3[p][Bc7Tables::anchors3Third[p]], 2) << "partition " << p;
    }
}

TEST(Bc7Tables, EveryModeFillsExactly128Bits)
{
    for (unsigned m = 0; m < kBc7Modes; ++m) {
        const Bc7ModeLayout &mode = Bc7Tables::modes[m];
        const unsigned endpoints = 2 * mode.subsets;
        const unsigned bits = m + 1 + mode.partitionBits + mode.rotationBits + mode.indexSelectionBits +
                              endpoints * (3 * mode.colourBits + mode.alphaBits + mode.endpointPBits) +
                              mode.subsets * mode.sharedPBits + 16 * mode.indexBits - mode.subsets +
                              (mode.secondaryIndexBits ? 16 * mode.secondaryIndexBits - 1 : 0);
        EXPECT_EQ(bits, 128u) << "mode " << m;
    }
}

// The plain decoder's own contract: whole blocks only, nothing outside them.
TEST(Bc7Plain, TrailingBytesAreIgnoredAndNothingOutsideThePlanesIsTouched)
{
    std::mt19937 rng(3);
    for (std::size_t len = 0; len <= 16 * 5 + 15; ++len) {
        Bytes input = randomBc7Blocks(rng, 6, kMixedBc7Modes);
        input.resize(len);
        // decodeGuarded faults on any access outside the whole blocks and planes.
        const std::array<Bytes, 4> planes = decodeGuarded(decodeBC7BlocksPlain, input, Touching::End, kRowBytes, 16);
        EXPECT_EQ(planes[0].size(), len / 16 * kRowBytes);
    }
}

} // namespace
