// The pixel layout decoder: hand-worked pixels of every field kind to every
// sample type (docs/formats.md works the same ones), the bit order and row
// pitch of 1-bit pixels, unpremultiplying, and the layouts it refuses.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "pixel-layouts.h"

namespace {

constexpr FieldKind kUnorm = FieldKind::unorm, kSnorm = FieldKind::snorm, kFloat = FieldKind::floating;

PixelField field(FieldKind kind, unsigned offset = 0, unsigned bits = 0, unsigned exponentOffset = 0)
{
    return {kind, offset, bits, exponentOffset};
}

PixelLayout layout(unsigned pixelBits, std::vector<PixelField> fields)
{
    PixelLayout result{pixelBits, static_cast<unsigned>(fields.size()), {}};
    for (unsigned c = 0; c < fields.size(); c++)
        result.fields[c] = fields[c];
    return result;
}

// The samples, widened to 32 bits, of one row of `width` pixels from `bytes`.
std::vector<std::uint32_t> decodeRow(const PixelLayout &pixels, SampleType type, std::vector<unsigned char> bytes,
                                     std::size_t width = 1, bool unpremultiply = false)
{
    EXPECT_EQ(pixelLayoutError(pixels, type, unpremultiply), nullptr);
    const unsigned size = sampleBytes(type);
    std::vector<unsigned char> out(width * pixels.channels * size, 0xEE);
    decodePixels(pixels, type, unpremultiply, bytes.data(), bytes.size(), width, 1, out.data());
    std::vector<std::uint32_t> samples;
    for (std::size_t i = 0; i < out.size(); i += size) {
        std::uint32_t sample = 0;
        if (size == 1)
            sample = out[i];
        else if (size == 2) {
            std::uint16_t half;
            std::memcpy(&half, &out[i], 2);
            sample = half;
        } else {
            std::memcpy(&sample, &out[i], 4);
        }
        samples.push_back(sample);
    }
    return samples;
}

std::uint32_t bitsOf(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    return bits;
}

// One little-endian pixel of `bytes` bytes.
std::vector<unsigned char> pixel(std::uint64_t value, unsigned bytes)
{
    std::vector<unsigned char> result;
    for (unsigned i = 0; i < bytes; i++)
        result.push_back(static_cast<unsigned char>(value >> (8 * (i % 8)) & (i < 8 ? 0xFF : 0)));
    return result;
}

typedef std::vector<std::uint32_t> Samples;

// Unorm widening: round(v * 255 / (2^n - 1)), likewise to 65535, and v / (2^n - 1) as floats.
TEST(UnormFields, EachWidthToEachType)
{
    struct Case {
        unsigned bits;
        std::uint32_t code, byte, word, single, half;
    } cases[] = {
        {1, 1, 255, 65535, 0x3F800000, 0x3C00},
        {4, 7, 119, 30583, 0x3EEEEEEF, 0x3777},   // 7/15
        {5, 16, 132, 33825, 0x3F042108, 0x3821},  // 16/31
        {6, 33, 134, 34328, 0x3F061862, 0x3831},  // 33/63
        {8, 128, 128, 32896, 0x3F008081, 0x3804}, // 128·257
        {10, 512, 128, 32800, 0x3F002008, 0x3801},
        {16, 384, 1, 384, 0x3BC000C0, 0x1E00},
    };
    for (const Case &c : cases) {
        const PixelLayout pixels = layout(32, {field(kUnorm, 3, c.bits)});
        const std::vector<unsigned char> bytes = pixel(std::uint64_t(c.code) << 3, 4);
        EXPECT_EQ(decodeRow(pixels, SampleType::uint8, bytes), Samples{c.byte}) << c.bits;
        EXPECT_EQ(decodeRow(pixels, SampleType::uint16, bytes), Samples{c.word}) << c.bits;
        EXPECT_EQ(decodeRow(pixels, SampleType::float32, bytes), Samples{c.single}) << c.bits;
        EXPECT_EQ(decodeRow(pixels, SampleType::float16, bytes), Samples{c.half}) << c.bits;
    }
}

// 32-bit codes (typeless surfaces read as unorm): v / (2^32 - 1) rounded
// once. Through double precision, 0xFFFFFF7F's single would round twice, to
// 1.0; the nearest single is just below it.
TEST(UnormFields, ThirtyTwoBitsRoundOnce)
{
    struct Case {
        std::uint32_t code, byte, word, single, half;
    } cases[] = {
        {0xFFFFFF7F, 255, 65535, 0x3F7FFFFF, 0x3C00},
        {0x80000000, 128, 32768, 0x3F000000, 0x3800},
        {0x12345678, 18, 4660, 0x3D91A2B4, 0x2C8D},
        {1, 0, 0, 0x2F800000, 0}, // 2^-32 is below the least half
        {0xFFFFFFFF, 255, 65535, 0x3F800000, 0x3C00},
    };
    const PixelLayout pixels = layout(64, {field(kUnorm, 32, 32)});
    for (const Case &c : cases) {
        const std::vector<unsigned char> bytes = pixel(std::uint64_t(c.code) << 32 | 0xFFFFFFFFu, 8);
        EXPECT_EQ(decodeRow(pixels, SampleType::uint8, bytes), Samples{c.byte}) << c.code;
        EXPECT_EQ(decodeRow(pixels, SampleType::uint16, bytes), Samples{c.word}) << c.code;
        EXPECT_EQ(decodeRow(pixels, SampleType::float32, bytes), Samples{c.single}) << c.code;
        EXPECT_EQ(decodeRow(pixels, SampleType::float16, bytes), Samples{c.half}) << c.code;
    }
}

TEST(UnormFields, FiveSixFiveAndByteOrders)
{
    // B5G6R5: red in bits 11-15, green 5-10, blue 0-4; 0xF81F is magenta.
    const PixelLayout rgb565 = layout(16, {field(kUnorm, 11, 5), field(kUnorm, 5, 6), field(kUnorm, 0, 5),
                                           field(FieldKind::one)});
    EXPECT_EQ(decodeRow(rgb565, SampleType::uint8, {0x1F, 0xF8, 0x20, 0x84}, 2),
              (Samples{255, 0, 255, 255, 132, 134, 0, 255})); // 0x8420: red 16, green 33, blue 0
    // B8G8R8A8 to RGBA, and B8G8R8X8 with X read as opaque.
    const PixelLayout bgra = layout(32, {field(kUnorm, 16, 8), field(kUnorm, 8, 8), field(kUnorm, 0, 8),
                                         field(kUnorm, 24, 8)});
    EXPECT_EQ(decodeRow(bgra, SampleType::uint8, {1, 2, 3, 4, 5, 6, 7, 8}, 2), (Samples{3, 2, 1, 4, 7, 6, 5, 8}));
    const PixelLayout bgrx = layout(32, {field(kUnorm, 16, 8), field(kUnorm, 8, 8), field(kUnorm, 0, 8),
                                         field(FieldKind::one)});
    EXPECT_EQ(decodeRow(bgrx, SampleType::uint8, {1, 2, 3, 4}), (Samples{3, 2, 1, 255}));
    EXPECT_EQ(decodeRow(bgrx, SampleType::float32, {0, 51, 255, 4}),
              (Samples{0x3F800000, 0x3E4CCCCD, 0, 0x3F800000})); // 51/255 = 0.2
}

// Snorm: the most negative code reads as its neighbour; zero is the middle.
TEST(SnormFields, MostNegativeZeroAndMost)
{
    const PixelLayout eight = layout(8, {field(kSnorm, 0, 8)});
    EXPECT_EQ(decodeRow(eight, SampleType::uint8, {0x80, 0x81, 0x00, 0x7F, 0xFF}, 5), (Samples{0, 0, 128, 255, 126})); // -1: 126.496
    EXPECT_EQ(decodeRow(eight, SampleType::float32, {0x80, 0x00, 0x7F}, 3),
              (Samples{bitsOf(-1.0f), 0, bitsOf(1.0f)}));
    EXPECT_EQ(decodeRow(eight, SampleType::uint16, {0x80, 0x00, 0x7F}, 3), (Samples{0, 32768, 65535}));
    const PixelLayout sixteen = layout(16, {field(kSnorm, 0, 16)});
    EXPECT_EQ(decodeRow(sixteen, SampleType::uint16, {0x00, 0x80, 0x00, 0x00, 0xFF, 0x7F}, 3),
              (Samples{0, 32768, 65535}));
    EXPECT_EQ(decodeRow(sixteen, SampleType::uint8, {0x00, 0x80, 0x00, 0x00}, 2), (Samples{0, 128}));
    EXPECT_EQ(decodeRow(sixteen, SampleType::float16, {0x01, 0x80, 0x00, 0x00}, 2), (Samples{0xBC00, 0}));
    // A missing channel of a signed layout: the snorm zero of each type.
    const PixelLayout rg = layout(16, {field(kSnorm, 0, 8), field(kSnorm, 8, 8), field(FieldKind::signedZero)});
    EXPECT_EQ(decodeRow(rg, SampleType::uint8, {0x81, 0x7F}), (Samples{0, 255, 128}));
    EXPECT_EQ(decodeRow(rg, SampleType::uint16, {0x81, 0x7F}), (Samples{0, 65535, 32768}));
    EXPECT_EQ(decodeRow(rg, SampleType::float32, {0x81, 0x7F}), (Samples{bitsOf(-1.0f), bitsOf(1.0f), 0}));
}

// Half floats: exact in single precision; clamped to 0 .. 1 and rounded for bytes.
TEST(FloatFields, HalfSpecials)
{
    EXPECT_EQ(bitsOf(halfToFloat(0x0000)), 0u);
    EXPECT_EQ(bitsOf(halfToFloat(0x8000)), 0x80000000u);
    EXPECT_EQ(halfToFloat(0x0001), std::ldexp(1.0f, -24));
    EXPECT_EQ(halfToFloat(0x03FF), std::ldexp(1023.0f, -24));
    EXPECT_EQ(halfToFloat(0x7BFF), 65504.0f);
    EXPECT_EQ(halfToFloat(0xFC00), -INFINITY);
    EXPECT_TRUE(std::isnan(halfToFloat(0x7E00)));
    EXPECT_TRUE(std::isnan(halfToFloat(0x7C01)));

    const PixelLayout half = layout(16, {field(kFloat, 0, 16)});
    // +0, -0, 2^-24, infinity, -infinity, NaN, 65504, 0.5, 1.0.
    const std::vector<unsigned char> specials = {0x00, 0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0x7C, 0x00,
                                                 0xFC, 0x00, 0x7E, 0xFF, 0x7B, 0x00, 0x38, 0x00, 0x3C};
    // 0.5 is the one value that ties: halves round up, to 128 and 32768.
    EXPECT_EQ(decodeRow(half, SampleType::uint8, specials, 9), (Samples{0, 0, 0, 255, 0, 0, 255, 128, 255}));
    EXPECT_EQ(decodeRow(half, SampleType::uint16, specials, 9),
              (Samples{0, 0, 0, 65535, 0, 0, 65535, 32768, 65535}));
    const Samples singles = decodeRow(half, SampleType::float32, specials, 9);
    EXPECT_EQ(singles[0], 0u);
    EXPECT_EQ(singles[1], 0x80000000u);
    EXPECT_EQ(singles[2], 0x33800000u); // 2^-24
    EXPECT_EQ(singles[3], 0x7F800000u);
    EXPECT_EQ(singles[4], 0xFF800000u);
    EXPECT_EQ(singles[5] & 0x7F800000u, 0x7F800000u);
    EXPECT_NE(singles[5] & 0x007FFFFFu, 0u); // NaN stays NaN
    EXPECT_EQ(singles[6], bitsOf(65504.0f));
    EXPECT_EQ(singles[8], bitsOf(1.0f));
    const Samples halves = decodeRow(half, SampleType::float16, specials, 9);
    EXPECT_EQ(halves[1], 0x8000u);
    EXPECT_EQ(halves[5] & 0x7C00u, 0x7C00u);
    EXPECT_NE(halves[5] & 0x03FFu, 0u);
}

// Single precision to half: to nearest, ties to even, past 65520 to infinity.
TEST(FloatFields, SingleToHalfTiesToEven)
{
    EXPECT_EQ(roundToHalf(1.0 + std::ldexp(1.0, -11)), 0x3C00);     // tie: 1.0 has the even mantissa
    EXPECT_EQ(roundToHalf(1.0 + 3 * std::ldexp(1.0, -11)), 0x3C02); // tie between 0x3C01 and 0x3C02
    EXPECT_EQ(roundToHalf(1.0 + 3 * std::ldexp(1.0, -12)), 0x3C01);  // below the tie
    EXPECT_EQ(roundToHalf(std::ldexp(1.0, -25)), 0x0000);            // half the least subnormal: to even 0
    EXPECT_EQ(roundToHalf(3 * std::ldexp(1.0, -25)), 0x0002);
    EXPECT_EQ(roundToHalf(std::ldexp(2047.5, -25)), 0x0400);          // the last subnormal rounds up to the least normal
    EXPECT_EQ(roundToHalf(65519.99), 0x7BFF);
    EXPECT_EQ(roundToHalf(65520.0), 0x7C00);
    EXPECT_EQ(roundToHalf(-1e9), 0xFC00);
    EXPECT_EQ(roundToHalf(-0.0), 0x8000);
    EXPECT_EQ(roundToHalf(NAN) & 0x7C00, 0x7C00);
    EXPECT_NE(roundToHalf(NAN) & 0x03FF, 0);

    const PixelLayout single = layout(32, {field(kFloat, 0, 32)});
    EXPECT_EQ(decodeRow(single, SampleType::float16, {0x00, 0x10, 0x80, 0x3F, 0x00, 0x30, 0x80, 0x3F}, 2),
              (Samples{0x3C00, 0x3C02}));
}

// R11G11B10_FLOAT: unsigned, 5-bit exponents, 6- and 5-bit mantissas.
TEST(FloatFields, ElevenAndTenBitFloats)
{
    const PixelLayout packed = layout(32, {field(kFloat, 0, 11), field(kFloat, 11, 11), field(kFloat, 22, 10)});
    // red 1.0 (exponent 15), green 3.0 (16, mantissa 32 of 64), blue 0.75 (14, 16 of 32).
    const std::vector<unsigned char> bytes = pixel(0x742103C0, 4);
    EXPECT_EQ(decodeRow(packed, SampleType::float32, bytes), (Samples{bitsOf(1.0f), bitsOf(3.0f), bitsOf(0.75f)}));
    EXPECT_EQ(decodeRow(packed, SampleType::uint8, bytes), (Samples{255, 255, 191}));
    EXPECT_EQ(decodeRow(packed, SampleType::float16, bytes), (Samples{0x3C00, 0x4200, 0x3A00}));
    // Red infinity (exponent 31), green the least subnormal, 2^-20.
    EXPECT_EQ(decodeRow(packed, SampleType::float32, pixel(0x000007C0 | 1u << 11, 4)),
              (Samples{0x7F800000, bitsOf(std::ldexp(1.0f, -20)), 0}));
}

// R9G9B9E5: m · 2^(e − 24).
TEST(SharedExponentFields, MantissasScaledByOneExponent)
{
    const PixelLayout rgb9e5 = layout(32, {field(FieldKind::sharedExponent, 0, 9, 27),
                                           field(FieldKind::sharedExponent, 9, 9, 27),
                                           field(FieldKind::sharedExponent, 18, 9, 27)});
    const std::vector<unsigned char> bytes = pixel(256 | 1u << 9 | 511u << 18 | 16u << 27, 4);
    EXPECT_EQ(decodeRow(rgb9e5, SampleType::float32, bytes),
              (Samples{bitsOf(1.0f), bitsOf(0.00390625f), bitsOf(1.99609375f)}));
    EXPECT_EQ(decodeRow(rgb9e5, SampleType::uint8, bytes), (Samples{255, 1, 255}));
    EXPECT_EQ(decodeRow(rgb9e5, SampleType::float16, bytes), (Samples{0x3C00, 0x1C00, 0x3FFC}));
    EXPECT_EQ(decodeRow(rgb9e5, SampleType::float32, pixel(1, 4)), (Samples{bitsOf(std::ldexp(1.0f, -24)), 0, 0}));
}

// The XR bias: (v − 384) / 510, clamped for integer samples.
TEST(XrBiasFields, BiasAndClamping)
{
    const PixelLayout xr = layout(16, {field(FieldKind::xrBias, 0, 10)});
    // 0 and 383 clamp to 0; 384 is 0; 385 is 0.5 of a byte, rounded up; 639 is
    // 0.5, up to 128; 894 is 1.0; 1023 clamps to 255.
    const std::vector<unsigned char> codes = {0, 0, 0x7F, 1, 0x80, 1, 0x81, 1, 0x7F, 2, 0x7E, 3, 0xFF, 3};
    EXPECT_EQ(decodeRow(xr, SampleType::uint8, codes, 7), (Samples{0, 0, 0, 1, 128, 255, 255}));
    EXPECT_EQ(decodeRow(xr, SampleType::uint16, codes, 7), (Samples{0, 0, 0, 129, 32768, 65535, 65535}));
    const Samples floats = decodeRow(xr, SampleType::float32, codes, 7);
    EXPECT_EQ(floats[0], bitsOf(-384.0f / 510));
    EXPECT_EQ(floats[4], bitsOf(0.5f));
    EXPECT_EQ(floats[6], 0x3FA06060u); // 639/510, not clamped
}

// R1: the first pixel in a byte's highest bit; each row starts on a byte.
TEST(OneBitPixels, BitOrderAndRowPitch)
{
    std::size_t rowBytes = 0;
    ASSERT_TRUE(pixelRowBytes(10, 1, rowBytes));
    EXPECT_EQ(rowBytes, 2u);
    ASSERT_TRUE(pixelRowBytes(8, 1, rowBytes));
    EXPECT_EQ(rowBytes, 1u);
    ASSERT_TRUE(pixelRowBytes(3, 24, rowBytes));
    EXPECT_EQ(rowBytes, 9u);
    EXPECT_FALSE(pixelRowBytes(static_cast<std::size_t>(-1) / 8, 128, rowBytes));

    const PixelLayout r1 = layout(1, {field(kUnorm, 0, 1)});
    const unsigned char rows[] = {0xA5, 0xC0, 0x01, 0x80};
    unsigned char out[20];
    decodePixels(r1, SampleType::uint8, false, rows, 2, 10, 2, out);
    const unsigned char expected[20] = {255, 0, 255, 0, 0, 255, 0, 255, 255, 255,
                                        0, 0, 0, 0, 0, 0, 0, 255, 255, 0};
    EXPECT_EQ(std::memcmp(out, expected, 20), 0);
}

TEST(Unpremultiply, AlphaZeroRoundingAndClamping)
{
    const PixelLayout rgba = layout(32, {field(kUnorm, 0, 8), field(kUnorm, 8, 8), field(kUnorm, 16, 8),
                                         field(kUnorm, 24, 8)});
    // 64·255/128 = 127.5 rounds up; 200 over alpha 128 clamps; alpha 0 gives 0.
    EXPECT_EQ(decodeRow(rgba, SampleType::uint8, {64, 128, 200, 128, 10, 20, 30, 0, 1, 2, 3, 3, 17, 34, 51, 255}, 4,
                        true),
              (Samples{128, 255, 255, 128, 0, 0, 0, 0, 85, 170, 255, 3, 17, 34, 51, 255}));
}

// Pixels past 64 bits, and decoded block planes converted to other types.
TEST(WidePixels, SixteenByteFloatsAndFieldsAcrossTheMiddle)
{
    const PixelLayout rgba32f = layout(128, {field(kFloat, 0, 32), field(kFloat, 32, 32), field(kFloat, 64, 32),
                                             field(kFloat, 96, 32)});
    std::vector<unsigned char> bytes(16);
    const float values[4] = {0.5f, -2.0f, 1.5f, 0.25f};
    std::memcpy(bytes.data(), values, 16);
    EXPECT_EQ(decodeRow(rgba32f, SampleType::uint8, bytes), (Samples{128, 0, 255, 64}));
    EXPECT_EQ(decodeRow(rgba32f, SampleType::float16, bytes), (Samples{0x3800, 0xC000, 0x3E00, 0x3400}));
    // A byte across bits 60 to 67 of a 96-bit pixel.
    const PixelLayout across = layout(96, {field(kUnorm, 60, 8)});
    std::vector<unsigned char> wide(12, 0);
    wide[7] = 0xB0; // bits 60-63: 0xB
    wide[8] = 0x0A; // bits 64-67: 0xA
    EXPECT_EQ(decodeRow(across, SampleType::uint8, wide), Samples{0xAB});
}

TEST(DecodedPlanes, BytesToFloatsAndHalvesToWords)
{
    const PixelLayout rgba8 = layout(32, {field(kUnorm, 0, 8), field(kUnorm, 8, 8), field(kUnorm, 16, 8),
                                          field(kUnorm, 24, 8)});
    EXPECT_EQ(decodeRow(rgba8, SampleType::float32, {0, 51, 255, 128}),
              (Samples{0, 0x3E4CCCCD, 0x3F800000, 0x3F008081}));
    // BC6H's rows: three halves a pixel.
    const PixelLayout rgb16f = layout(48, {field(kFloat, 0, 16), field(kFloat, 16, 16), field(kFloat, 32, 16)});
    EXPECT_EQ(decodeRow(rgb16f, SampleType::uint16, {0x00, 0x38, 0x00, 0x3C, 0x00, 0x40}),
              (Samples{32768, 65535, 65535}));
    EXPECT_EQ(decodeRow(rgb16f, SampleType::float32, {0x00, 0x38, 0x00, 0xBC, 0xFF, 0x7B}),
              (Samples{bitsOf(0.5f), bitsOf(-1.0f), bitsOf(65504.0f)}));
}

TEST(LayoutErrors, RefusedLayouts)
{
    EXPECT_NE(pixelLayoutError(layout(12, {field(kUnorm, 0, 4)}), SampleType::uint8, false), nullptr);
    EXPECT_NE(pixelLayoutError(layout(16, {field(kUnorm, 12, 5)}), SampleType::uint8, false), nullptr);
    EXPECT_NE(pixelLayoutError(layout(64, {field(kUnorm, 0, 33)}), SampleType::uint8, false), nullptr);
    EXPECT_NE(pixelLayoutError(layout(8, {field(kSnorm, 0, 1)}), SampleType::uint8, false), nullptr);
    EXPECT_NE(pixelLayoutError(layout(8, {field(kFloat, 0, 8)}), SampleType::uint8, false), nullptr);
    EXPECT_NE(pixelLayoutError(layout(32, {field(FieldKind::sharedExponent, 0, 9, 28)}), SampleType::uint8, false),
              nullptr);
    EXPECT_NE(pixelLayoutError(layout(16, {}), SampleType::uint8, false), nullptr);
    const PixelLayout rgba = layout(32, {field(kUnorm, 0, 8), field(kUnorm, 8, 8), field(kUnorm, 16, 8),
                                         field(kUnorm, 24, 8)});
    EXPECT_EQ(pixelLayoutError(rgba, SampleType::uint8, true), nullptr);
    EXPECT_NE(pixelLayoutError(rgba, SampleType::uint16, true), nullptr);
    EXPECT_NE(pixelLayoutError(layout(16, {field(kUnorm, 0, 4), field(kUnorm, 4, 4), field(kUnorm, 8, 4),
                                            field(kUnorm, 12, 4)}),
                               SampleType::uint8, true),
              nullptr);
}

} // namespace

namespace {

// The fast paths against the general one: the same fields at a place in the
// pixel that the fast paths do not take.

// Every half, as R16_FLOAT (a run of halves) and as the low half of a 32-bit pixel.
TEST(FastPaths, EveryHalfAsARunAndAsAField)
{
    std::vector<unsigned char> run(2 << 16), padded(4 << 16);
    for (std::uint32_t h = 0; h < (1 << 16); h++) {
        run[2 * h] = padded[4 * h] = static_cast<unsigned char>(h);
        run[2 * h + 1] = padded[4 * h + 1] = static_cast<unsigned char>(h >> 8);
    }
    for (SampleType type : {SampleType::uint8, SampleType::float32}) {
        const std::size_t size = sampleBytes(type) << 16;
        std::vector<unsigned char> fast(size), general(size);
        // Widths that leave the vector loops a remainder: the whole run, then one pixel short.
        for (std::size_t width : {std::size_t(1) << 16, (std::size_t(1) << 16) - 1}) {
            decodePixels(layout(16, {field(kFloat, 0, 16)}), type, false, run.data(), 2 * width, width, 1,
                         fast.data());
            decodePixels(layout(32, {field(kFloat, 0, 16)}), type, false, padded.data(), 4 * width, width, 1,
                         general.data());
            EXPECT_EQ(std::memcmp(fast.data(), general.data(), width * sampleBytes(type)), 0)
                << static_cast<unsigned>(type) << " " << width;
        }
    }
}

// Byte layouts: every byte of the output is a byte of the pixel or a constant.
TEST(FastPaths, ByteShufflesOfEveryWidth)
{
    struct Case {
        unsigned pixelBits;
        std::vector<PixelField> fields;
        std::vector<int> source; // the pixel's byte, or -1 for 255
    } cases[] = {
        {32, {field(kUnorm, 16, 8), field(kUnorm, 8, 8), field(kUnorm, 0, 8), field(kUnorm, 24, 8)}, {2, 1, 0, 3}},
        {32, {field(kUnorm, 16, 8), field(kUnorm, 8, 8), field(kUnorm, 0, 8), field(FieldKind::one)}, {2, 1, 0, -1}},
        {24, {field(kUnorm, 16, 8), field(kUnorm, 8, 8), field(kUnorm, 0, 8)}, {2, 1, 0}},
        {24, {field(kUnorm, 0, 8), field(kUnorm, 8, 8), field(kUnorm, 16, 8), field(FieldKind::one)}, {0, 1, 2, -1}},
        {8, {field(kUnorm, 0, 8), field(kUnorm, 0, 8), field(kUnorm, 0, 8), field(FieldKind::one)}, {0, 0, 0, -1}},
        {8, {field(kUnorm, 0, 8)}, {0}},
        {16, {field(kUnorm, 8, 8), field(kUnorm, 0, 8)}, {1, 0}},
        {64, {field(kUnorm, 56, 8), field(kUnorm, 8, 8)}, {7, 1}},
    };
    std::vector<unsigned char> data(8 * 64 + 16);
    for (std::size_t i = 0; i < data.size(); i++)
        data[i] = static_cast<unsigned char>(i * 131 + 7);
    for (const Case &c : cases) {
        const PixelLayout pixels = layout(c.pixelBits, c.fields);
        const unsigned pixelBytes = c.pixelBits / 8, channels = pixels.channels;
        for (std::size_t width = 1; width <= 64; width++) {
            std::vector<unsigned char> out(width * channels + 1, 0xEE), expected(width * channels + 1, 0xEE);
            for (std::size_t x = 0; x < width; x++)
                for (unsigned ch = 0; ch < channels; ch++)
                    expected[x * channels + ch] = c.source[ch] < 0 ? 255 : data[x * pixelBytes + c.source[ch]];
            decodePixels(pixels, SampleType::uint8, false, data.data(), width * pixelBytes, width, 1, out.data());
            EXPECT_EQ(out, expected) << c.pixelBits << " bits, " << channels << " channels, width " << width;
        }
    }
}

} // namespace
