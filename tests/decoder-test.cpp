#include "block-decoder.h"
#include "guarded-decode.h"
#include "guarded-memory.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The block family: one block worked by hand per format, mode and colour
// rule. Pixel k = 4·row + column.

Planes decodeFormat(BlockFormat format, ColourRule rule, const Bytes &input)
{
    const BlockFormatInfo &info = blockFormatInfo(format);
    return decodeGuarded([=](const unsigned char *data, std::size_t len, unsigned char *const outdata[4]) {
        decodeBlocks(format, rule, data, len, outdata);
    }, input, Touching::End, 4 * info.pixelBytes, info.blockBytes);
}

// The planes of one block whose pixel k has channel value values[k % 8],
// `pixelBytes` bytes a pixel, at byte `channel` of each (others as `fill`).
Planes rotatingChannel(const unsigned char values[8], unsigned pixelBytes, unsigned channel, Planes fill)
{
    for (unsigned k = 0; k < 16; ++k)
        fill[k / 4][pixelBytes * (k % 4) + channel] = values[k % 8];
    return fill;
}

Planes zeroPlanes(std::size_t bytes)
{
    return {Bytes(bytes, 0), Bytes(bytes, 0), Bytes(bytes, 0), Bytes(bytes, 0)};
}

// Channel blocks whose pixel k has index k % 8: bytes 2-7 hold 0xFAC688 twice.
const Bytes kRotatingIndices = {0x88, 0xC6, 0xFA, 0x88, 0xC6, 0xFA};

Bytes channelBlock(unsigned char e0, unsigned char e1, const Bytes &indices = kRotatingIndices)
{
    Bytes block(2 + indices.size());
    block[0] = e0;
    block[1] = e1;
    std::copy(indices.begin(), indices.end(), block.begin() + 2);
    return block;
}

Bytes concat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(ChannelBlock, EightValueModeWhenTheFirstEndpointIsGreater)
{
    // 200 and 10: (6·200 + 10) / 7 = 172.9 and so on down by sevenths.
    const unsigned char design[8] = {200, 10, 172, 145, 118, 91, 64, 37};
    const unsigned char gpu[8] = {200, 10, 173, 146, 119, 91, 64, 37};
    EXPECT_EQ(decodeFormat(BlockFormat::bc4, ColourRule::design, channelBlock(200, 10)),
              rotatingChannel(design, 1, 0, zeroPlanes(4)));
    EXPECT_EQ(decodeFormat(BlockFormat::bc4, ColourRule::gpu, channelBlock(200, 10)),
              rotatingChannel(gpu, 1, 0, zeroPlanes(4)));
}

TEST(ChannelBlock, SixValueModeOtherwiseWithZeroAndFullAtSixAndSeven)
{
    // 10 and 201: (4·10 + 201) / 5 = 48.2 and so on up by fifths.
    const unsigned char design[8] = {10, 201, 48, 86, 124, 162, 0, 255};
    const unsigned char gpu[8] = {10, 201, 48, 86, 125, 163, 0, 255};
    EXPECT_EQ(decodeFormat(BlockFormat::bc4, ColourRule::design, channelBlock(10, 201)),
              rotatingChannel(design, 1, 0, zeroPlanes(4)));
    EXPECT_EQ(decodeFormat(BlockFormat::bc4, ColourRule::gpu, channelBlock(10, 201)),
              rotatingChannel(gpu, 1, 0, zeroPlanes(4)));
    // Equal endpoints are the six-value mode too.
    const unsigned char equal[8] = {77, 77, 77, 77, 77, 77, 0, 255};
    EXPECT_EQ(decodeFormat(BlockFormat::bc4, ColourRule::design, channelBlock(77, 77)),
              rotatingChannel(equal, 1, 0, zeroPlanes(4)));
}

TEST(ChannelBlock, SignedValuesDivideTowardZeroAndMapMinus127To0And127To255)
{
    // 100 and -100, eight values: 71.4, 42.9, 14.3, -14.3, -42.9, -71.4 truncated
    // toward zero (gpu: rounded), then ((v + 127)·255 + 127) / 254.
    const unsigned char design[8] = {228, 27, 199, 170, 142, 113, 85, 56};
    const unsigned char gpu[8] = {228, 27, 199, 171, 142, 113, 84, 56};
    EXPECT_EQ(decodeFormat(BlockFormat::bc4s, ColourRule::design, channelBlock(100, 0x9C)),
              rotatingChannel(design, 1, 0, zeroPlanes(4)));
    EXPECT_EQ(decodeFormat(BlockFormat::bc4s, ColourRule::gpu, channelBlock(100, 0x9C)),
              rotatingChannel(gpu, 1, 0, zeroPlanes(4)));
    // Zero is 128; the extremes of the six-value mode are 0 and 255.
    const unsigned char zero[8] = {128, 128, 128, 128, 128, 128, 0, 255};
    EXPECT_EQ(decodeFormat(BlockFormat::bc4s, ColourRule::design, channelBlock(0, 0)),
              rotatingChannel(zero, 1, 0, zeroPlanes(4)));
}

TEST(ChannelBlock, SignedMinus128IsReadAsMinus127BeforeTheModeIsChosen)
{
    // -128 and 127: six values from -127, so (4·-127 + 127) / 5 = -76 (byte 51), not -77 (50).
    const unsigned char values[8] = {0, 255, 51, 102, 153, 204, 0, 255};
    EXPECT_EQ(decodeFormat(BlockFormat::bc4s, ColourRule::design, channelBlock(0x80, 0x7F)),
              rotatingChannel(values, 1, 0, zeroPlanes(4)));
    // -127 against -128: equal, so the six-value mode, whose index 7 is 127.
    const Planes full = {Bytes(4, 255), Bytes(4, 255), Bytes(4, 255), Bytes(4, 255)};
    EXPECT_EQ(decodeFormat(BlockFormat::bc4s, ColourRule::design, channelBlock(0x81, 0x80, Bytes(6, 0xFF))), full);
}

TEST(BlockFamily, Bc5IsRedThenGreen)
{
    const unsigned char red[8] = {200, 10, 172, 145, 118, 91, 64, 37};
    const unsigned char green[8] = {10, 201, 48, 86, 124, 162, 0, 255};
    EXPECT_EQ(decodeFormat(BlockFormat::bc5, ColourRule::design, concat(channelBlock(200, 10), channelBlock(10, 201))),
              rotatingChannel(green, 2, 1, rotatingChannel(red, 2, 0, zeroPlanes(8))));
    const unsigned char signedRed[8] = {228, 27, 199, 170, 142, 113, 85, 56};
    const unsigned char signedGreen[8] = {0, 255, 51, 102, 153, 204, 0, 255};
    EXPECT_EQ(decodeFormat(BlockFormat::bc5s, ColourRule::design, concat(channelBlock(100, 0x9C), channelBlock(0x80, 0x7F))),
              rotatingChannel(signedGreen, 2, 1, rotatingChannel(signedRed, 2, 0, zeroPlanes(8))));
}

// A colour block from blue (0x001F) to red (0xF800), indices 0-3 in every row:
// in BC1 three-colour by the endpoints' order, in BC2 and BC3 always four-colour.
const Bytes kBlueToRed = {0x1F, 0x00, 0x00, 0xF8, 0xE4, 0xE4, 0xE4, 0xE4};

// The RGBA row of kBlueToRed under each rule, its alpha bytes left 0.
const Bytes kBlueToRedDesign = {0, 0, 248, 0, 248, 0, 0, 0, 82, 0, 165, 0, 165, 0, 82, 0};
const Bytes kBlueToRedGpu = {0, 0, 255, 0, 255, 0, 0, 0, 85, 0, 170, 0, 170, 0, 85, 0};

Planes withAlpha(const Bytes &row, const unsigned char alpha[16])
{
    Planes planes = {row, row, row, row};
    for (unsigned k = 0; k < 16; ++k)
        planes[k / 4][4 * (k % 4) + 3] = alpha[k];
    return planes;
}

TEST(BlockFamily, Bc2AlphasWidenBySeventeenOverAFourColourBlock)
{
    // Pixel k's alpha is k, in bits 4k to 4k + 3.
    const Bytes block = concat({0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE}, kBlueToRed);
    unsigned char alpha[16];
    for (unsigned k = 0; k < 16; ++k)
        alpha[k] = static_cast<unsigned char>(17 * k);
    EXPECT_EQ(decodeFormat(BlockFormat::bc2, ColourRule::design, block), withAlpha(kBlueToRedDesign, alpha));
    EXPECT_EQ(decodeFormat(BlockFormat::bc2, ColourRule::gpu, block), withAlpha(kBlueToRedGpu, alpha));
}

TEST(BlockFamily, Bc3AlphaIsAChannelBlockOverAFourColourBlock)
{
    const unsigned char design[16] = {200, 10, 172, 145, 118, 91, 64, 37, 200, 10, 172, 145, 118, 91, 64, 37};
    const unsigned char gpu[16] = {200, 10, 173, 146, 119, 91, 64, 37, 200, 10, 173, 146, 119, 91, 64, 37};
    const Bytes block = concat(channelBlock(200, 10), kBlueToRed);
    EXPECT_EQ(decodeFormat(BlockFormat::bc3, ColourRule::design, block), withAlpha(kBlueToRedDesign, design));
    EXPECT_EQ(decodeFormat(BlockFormat::bc3, ColourRule::gpu, block), withAlpha(kBlueToRedGpu, gpu));
}

TEST(GpuRule, WhiteWidensToFullAndThirdsRound)
{
    expectEveryPlane(decodeFormat(BlockFormat::bc1, ColourRule::gpu, {0xFF, 0xFF, 0x00, 0x00, 0, 0, 0, 0}),
                     repeatPixel(255, 255, 255));
    // Red 8 (66) to red 5 (41): (2·66 + 41 + 1) / 3 = 58, where truncating gives 57;
    // (66 + 2·41 + 1) / 3 = 49. The design rule: 64, 40, 56, 48.
    expectEveryPlane(decodeFormat(BlockFormat::bc1, ColourRule::gpu, {0x00, 0x40, 0x00, 0x28, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {66, 0, 0, 41, 0, 0, 58, 0, 0, 49, 0, 0});
    expectEveryPlane(decodeFormat(BlockFormat::bc1, ColourRule::design, {0x00, 0x40, 0x00, 0x28, 0xE4, 0xE4, 0xE4, 0xE4}),
                     {64, 0, 0, 40, 0, 0, 56, 0, 0, 48, 0, 0});
}

TEST(GpuRule, ThreeColourHalfRoundsAndIndexThreeStaysBlackOrTransparent)
{
    // Red 4 (33) to red 8 (66): (33 + 66 + 1) / 2 = 50; the design rule gives 32, 64 and 48.
    const Bytes block = {0x00, 0x20, 0x00, 0x40, 0xE4, 0xE4, 0xE4, 0xE4};
    expectEveryPlane(decodeFormat(BlockFormat::bc1, ColourRule::gpu, block), {33, 0, 0, 66, 0, 0, 50, 0, 0, 0, 0, 0});
    expectEveryPlane(decodeFormat(BlockFormat::bc1a, ColourRule::gpu, block),
                     {33, 0, 0, 255, 66, 0, 0, 255, 50, 0, 0, 255, 0, 0, 0, 0});
    expectEveryPlane(decodeFormat(BlockFormat::bc1, ColourRule::design, block), {32, 0, 0, 64, 0, 0, 48, 0, 0, 0, 0, 0});
}

} // namespace
