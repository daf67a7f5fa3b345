#include "dxt1-decoder.h"
#include "guarded-decode.h"
#include "guarded-memory.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Planes = std::array<Bytes, 4>;

Planes decode(const Bytes &input)
{
    return decodeGuarded(decodeDXT1Blocks, input);
}

Planes decodeRgba(const Bytes &input)
{
    return decodeGuarded(decodeDXT1ABlocks, input, Touching::End, 16);
}

Bytes repeatPixel(unsigned r, unsigned g, unsigned b)
{
    Bytes row(12);
    for (int x = 0; x < 4; ++x) {
        row[3 * x] = static_cast<unsigned char>(r);
        row[3 * x + 1] = static_cast<unsigned char>(g);
        row[3 * x + 2] = static_cast<unsigned char>(b);
    }
    return row;
}

void expectEveryPlane(const Planes &planes, const Bytes &row)
{
    for (int yo = 0; yo < 4; ++yo)
        EXPECT_EQ(planes[yo], row) << "plane " << yo;
}

// Endpoint expansion and mode choice.

TEST(EndpointsAndModes, WhiteExpandsBy_PlainShifts)
{
    expectEveryPlane(decode({0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}), repeatPixel(248, 252, 248));
}

TEST(EndpointsAndModes, RedToBlueFourColourMode)
{
    expectEveryPlane(decode({0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {248, 0, 0, 0, 0, 248, 165, 0, 82, 82, 0, 165});
}

TEST(EndpointsAndModes, WhiteToBlackFourColourMode)
{
    expectEveryPlane(decode({0xFF, 0xFF, 0x00, 0x00, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {248, 252, 248, 0, 0, 0, 165, 168, 165, 82, 84, 82});
}

TEST(EndpointsAndModes, BlackToWhiteThreeColourMode)
{
    expectEveryPlane(decode({0x00, 0x00, 0xFF, 0xFF, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {0, 0, 0, 248, 252, 248, 124, 126, 124, 0, 0, 0});
}

TEST(EndpointsAndModes, EqualEndpointsChooseThreeColourMode)
{
    // 0x1234 expands to (16, 68, 160); index 2 is the endpoint itself, index 3 black.
    expectEveryPlane(decode({0x34, 0x12, 0x34, 0x12, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {16, 68, 160, 16, 68, 160, 16, 68, 160, 0, 0, 0});
    expectEveryPlane(decode({0xFF, 0xFF, 0xFF, 0xFF, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {248, 252, 248, 248, 252, 248, 248, 252, 248, 0, 0, 0});
}

TEST(EndpointsAndModes, ComparisonIsOnRawValuesOneApart)
{
    // c0 = 1, c1 = 0: four-colour, blue 8 and 0 give 16/3 = 5 and 8/3 = 2.
    expectEveryPlane(decode({0x01, 0x00, 0x00, 0x00, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {0, 0, 8, 0, 0, 0, 0, 0, 5, 0, 0, 2});
    // c0 = 0, c1 = 1: three-colour, the mid-point 8 >> 1 = 4 and black.
    expectEveryPlane(decode({0x00, 0x00, 0x01, 0x00, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {0, 0, 0, 0, 0, 8, 0, 0, 4, 0, 0, 0});
}

TEST(EndpointsAndModes, ComparisonIsUnsigned)
{
    // 0x8000 > 0x7FFF as unsigned values: four-colour mode, so index 3 is not black.
    // Red 128, green 0 against red 120, green 252, blue 248.
    const Planes planes = decode({0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF});
    expectEveryPlane(planes, repeatPixel(122, 168, 165));
}

// Index order and plane order.

TEST(IndexOrder, TopRowFromByteFourColumnZeroFromLowBits)
{
    const Planes planes = decode({0x00, 0xF8, 0x1F, 0x00, 0x00, 0x55, 0xAA, 0x1B});
    EXPECT_EQ(planes[0], repeatPixel(248, 0, 0));
    EXPECT_EQ(planes[1], repeatPixel(0, 0, 248));
    EXPECT_EQ(planes[2], repeatPixel(165, 0, 82));
    EXPECT_EQ(planes[3], Bytes({82, 0, 165, 165, 0, 82, 0, 0, 248, 248, 0, 0}));
}

TEST(IndexOrder, AlternateRowsOfIndexThree)
{
    const Planes planes = decode({0x00, 0xF8, 0x1F, 0x00, 0x00, 0xFF, 0x00, 0xFF});
    EXPECT_EQ(planes[0], repeatPixel(248, 0, 0));
    EXPECT_EQ(planes[1], repeatPixel(82, 0, 165));
    EXPECT_EQ(planes[2], repeatPixel(248, 0, 0));
    EXPECT_EQ(planes[3], repeatPixel(82, 0, 165));
}

// Block placement, lengths and bounds.

TEST(Placement, EachBlockLandsAtItsOwnTwelveBytes)
{
    const Bytes input = {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // white
                         0x00, 0xF8, 0x1F, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,  // (82, 0, 165)
                         0x00, 0xF8, 0x1F, 0x00, 0x55, 0x55, 0x55, 0x55,  // blue
                         0xAA, 0xBB, 0xCC, 0xDD};                         // ignored tail
    const Planes planes = decode(input);
    Bytes row = repeatPixel(248, 252, 248);
    const Bytes second = repeatPixel(82, 0, 165), third = repeatPixel(0, 0, 248);
    row.insert(row.end(), second.begin(), second.end());
    row.insert(row.end(), third.begin(), third.end());
    expectEveryPlane(planes, row);
}

TEST(Lengths, FewerThanEightBytesDecodeNothing)
{
    for (std::size_t len = 0; len < 8; ++len) {
        const Planes planes = decode(Bytes(len, 0xFF));
        for (const Bytes &plane : planes)
            EXPECT_TRUE(plane.empty()) << "len " << len;
    }
}

TEST(Lengths, TwentyBytesGiveTwoBlocksAndIgnoreTheTail)
{
    Bytes input = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4,
                   0xFF, 0xFF, 0x00, 0x00, 0xE4, 0xE4, 0xE4, 0xE4};
    const Planes withoutTail = decode(input);
    input.insert(input.end(), {0x12, 0x34, 0x56, 0x78});
    const Planes planes = decode(input);
    expectEveryPlane(planes, {248, 0, 0, 0, 0, 248, 165, 0, 82, 82, 0, 165,
                              248, 252, 248, 0, 0, 0, 165, 168, 165, 82, 84, 82});
    EXPECT_EQ(planes, withoutTail);
}

TEST(Bounds, TrailingBytesAreNeverRead)
{
    // The tail sits in the guard page: any read of it faults.
    for (std::size_t tail = 1; tail < 8; ++tail) {
        GuardedBuffer in(8);
        const Bytes block = {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4};
        std::memcpy(in.data(), block.data(), 8);
        GuardedBuffer p0(12), p1(12), p2(12), p3(12);
        unsigned char *const outdata[4] = {p0.data(), p1.data(), p2.data(), p3.data()};
        decodeDXT1Blocks(in.data(), 8 + tail, outdata);
        EXPECT_EQ(Bytes(p3.data(), p3.data() + 12), Bytes({248, 0, 0, 0, 0, 248, 165, 0, 82, 82, 0, 165}));
    }
}

TEST(Bounds, BytesBeforeAndBetweenPlanesAreUntouched)
{
    // All four planes share one buffer, 12 bytes per plane apart from guard bytes.
    const Bytes input = {0xFF, 0xFF, 0x00, 0x00, 0x1B, 0x1B, 0x1B, 0x1B};
    Bytes arena(4 * 20, 0x5A);
    unsigned char *const outdata[4] = {&arena[4], &arena[24], &arena[44], &arena[64]};
    decodeDXT1Blocks(input.data(), input.size(), outdata);
    for (int yo = 0; yo < 4; ++yo) {
        const std::size_t start = 4 + 20 * yo;
        for (std::size_t i = start - 4; i < start; ++i)
            EXPECT_EQ(arena[i], 0x5A) << "byte " << i;
        for (std::size_t i = start + 12; i < start + 16; ++i)
            EXPECT_EQ(arena[i], 0x5A) << "byte " << i;
        EXPECT_EQ(Bytes(&arena[start], &arena[start + 12]),
                  Bytes({82, 84, 82, 165, 168, 165, 0, 0, 0, 248, 252, 248}));
    }
}

// Alpha: RGBA output, in which index 3 of the three-colour mode alone is transparent.

TEST(Alpha, ThreeColourIndexThreeIsTransparentBlack)
{
    // Black to white, three-colour mode: index 3 is (0, 0, 0, 0) where index 0 is opaque black.
    expectEveryPlane(decodeRgba({0x00, 0x00, 0xFF, 0xFF, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {0, 0, 0, 255, 248, 252, 248, 255, 124, 126, 124, 255, 0, 0, 0, 0});
    // c0 = 0, c1 = 1: three-colour by one.
    expectEveryPlane(decodeRgba({0x00, 0x00, 0x01, 0x00, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {0, 0, 0, 255, 0, 0, 8, 255, 0, 0, 4, 255, 0, 0, 0, 0});
}

TEST(Alpha, EqualEndpointsAreThreeColourSoIndexThreeIsTransparent)
{
    expectEveryPlane(decodeRgba({0x34, 0x12, 0x34, 0x12, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {16, 68, 160, 255, 16, 68, 160, 255, 16, 68, 160, 255, 0, 0, 0, 0});
    expectEveryPlane(decodeRgba({0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}), {0, 0, 0, 0, 0, 0, 0, 0,
                                                                                   0, 0, 0, 0, 0, 0, 0, 0});
}

TEST(Alpha, FourColourModeIsNeverTransparent)
{
    expectEveryPlane(decodeRgba({0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {248, 0, 0, 255, 0, 0, 248, 255, 165, 0, 82, 255, 82, 0, 165, 255});
    // White to black: colour 1 is black and opaque.
    expectEveryPlane(decodeRgba({0xFF, 0xFF, 0x00, 0x00, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {248, 252, 248, 255, 0, 0, 0, 255, 165, 168, 165, 255, 82, 84, 82, 255});
    // c0 = 1, c1 = 0, and 0x8000 against 0x7FFF (unsigned): four-colour, index 3 opaque.
    expectEveryPlane(decodeRgba({0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}),
                     {0, 0, 2, 255, 0, 0, 2, 255, 0, 0, 2, 255, 0, 0, 2, 255});
    expectEveryPlane(decodeRgba({0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF}),
                     {122, 168, 165, 255, 122, 168, 165, 255, 122, 168, 165, 255, 122, 168, 165, 255});
}

TEST(Alpha, TransparentPixelsFollowTheirIndexAndRow)
{
    // Three-colour black to white; row 0 all index 3, row 1 index 3 in column 3, row 3 in column 0.
    const Planes planes = decodeRgba({0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xC0, 0x00, 0x03});
    EXPECT_EQ(planes[0], Bytes(16, 0));
    EXPECT_EQ(planes[1], Bytes({0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 0}));
    EXPECT_EQ(planes[2], Bytes({0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}));
    EXPECT_EQ(planes[3], Bytes({0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255}));
}

TEST(Alpha, RedGreenAndBlueAreTheRgbDecodersAndAlphaIsOpaqueOrTransparentBlack)
{
    // Random blocks, the even ones in the three-colour mode (c0 < 0x100 <= c1),
    // the odd ones in the four-colour mode.
    std::mt19937 rng(11);
    Bytes input(8 * 600);
    for (unsigned char &byte : input)
        byte = static_cast<unsigned char>(rng());
    for (std::size_t b = 0; b < 600; ++b) {
        input[8 * b + 1] = b % 2 ? 0xFF : 0x00;
        input[8 * b + 3] = b % 2 ? 0x00 : 0xFF;
    }
    const Planes rgb = decode(input), rgba = decodeRgba(input);
    std::size_t transparent = 0;
    for (int yo = 0; yo < 4; ++yo)
        for (std::size_t pixel = 0; pixel < 4 * 600; ++pixel) {
            const unsigned char *expected = &rgb[yo][3 * pixel], *actual = &rgba[yo][4 * pixel];
            ASSERT_EQ(Bytes(actual, actual + 3), Bytes(expected, expected + 3)) << "plane " << yo << ", pixel " << pixel;
            if (actual[3] == 0) {
                ASSERT_EQ(Bytes(actual, actual + 3), Bytes(3, 0)) << "plane " << yo << ", pixel " << pixel;
                ASSERT_EQ(pixel / 4 % 2, 0u) << "a four-colour block's pixel " << pixel << " is transparent";
                ++transparent;
            } else {
                ASSERT_EQ(actual[3], 255) << "plane " << yo << ", pixel " << pixel;
            }
        }
    // A quarter of the three-colour blocks' pixels have index 3: about 1200.
    EXPECT_GT(transparent, 900u);
    EXPECT_LT(transparent, 1500u);
}

TEST(Alpha, EachBlockLandsAtItsOwnSixteenBytesAndTheTailIsIgnored)
{
    const Bytes input = {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // transparent
                         0x00, 0xF8, 0x1F, 0x00, 0x55, 0x55, 0x55, 0x55,  // blue
                         0xAA, 0xBB, 0xCC};                               // ignored tail
    expectEveryPlane(decodeRgba(input), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                         0, 0, 248, 255, 0, 0, 248, 255, 0, 0, 248, 255, 0, 0, 248, 255});
    for (std::size_t len = 0; len < 8; ++len)
        for (const Bytes &plane : decodeRgba(Bytes(len, 0xFF)))
            EXPECT_TRUE(plane.empty()) << "len " << len;
}

} // namespace
