// Every vector variant against the plain decoder, whatever dispatch would
// pick, in both outputs: RGB and RGBA.
#include "dxt1-decoder.h"
#include "dxt1-variants.h"
#include "guarded-decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// A variant's decoder for one output, with the plain decoder for the same output.
struct Decoder {
    const Dxt1Variant *variant;
    unsigned pixelBytes;

    Dxt1DecodeFunction decode() const { return pixelBytes == kRgbaBytes ? variant->decodeRgba : variant->decode; }
    Dxt1DecodeFunction plain() const
    {
        return pixelBytes == kRgbaBytes ? decodeDXT1ABlocksPlain : decodeDXT1BlocksPlain;
    }
    std::size_t rowBytes() const { return 4 * pixelBytes; }
};

void PrintTo(const Decoder &decoder, std::ostream *out)
{
    *out << decoder.variant->name << (decoder.pixelBytes == kRgbaBytes ? " RGBA" : " RGB");
}

std::vector<Decoder> vectorDecoders()
{
    std::size_t count;
    const Dxt1Variant *variants = dxt1Variants(&count);
    std::vector<Decoder> result;
    for (std::size_t i = 1; i < count; ++i) {
        result.push_back({&variants[i], kRgbBytes});
        result.push_back({&variants[i], kRgbaBytes});
    }
    return result;
}

Bytes block(unsigned c0, unsigned c1, const unsigned char rows[4])
{
    return {static_cast<unsigned char>(c0), static_cast<unsigned char>(c0 >> 8),
            static_cast<unsigned char>(c1), static_cast<unsigned char>(c1 >> 8),
            rows[0], rows[1], rows[2], rows[3]};
}

class VariantTest : public ::testing::TestWithParam<Decoder> {
protected:
    void SetUp() override
    {
        if (!GetParam().variant->supported())
            GTEST_SKIP() << GetParam().variant->name << " is not supported by this CPU";
    }

    void expectSameAsPlain(const Bytes &input, const std::string &what, Touching side = Touching::End)
    {
        const Decoder &d = GetParam();
        ASSERT_EQ(decodeGuarded(d.decode(), input, side, d.rowBytes()), decodeGuarded(d.plain(), input, side, d.rowBytes()))
            << what << ", " << input.size() << " bytes";
    }
};

TEST_P(VariantTest, RandomBlocks)
{
    std::mt19937 rng(20261207);
    for (int run = 0; run < 200; ++run) {
        Bytes input(rng() % 2048);
        for (unsigned char &byte : input)
            byte = static_cast<unsigned char>(rng());
        expectSameAsPlain(input, "random run " + std::to_string(run));
    }
}

TEST_P(VariantTest, EdgeValueEndpoints)
{
    const unsigned edges[] = {0x0000, 0x0001, 0x001F, 0x0020, 0x07E0, 0x07FF, 0x0800, 0x1234, 0x1235,
                              0x7FFF, 0x8000, 0x8001, 0xF800, 0xFFDF, 0xFFFE, 0xFFFF};
    const unsigned char rows[4] = {0xE4, 0x1B, 0xFF, 0x00};
    Bytes input;
    for (unsigned c0 : edges)
        for (unsigned c1 : edges) {
            const Bytes b = block(c0, c1, rows);
            input.insert(input.end(), b.begin(), b.end());
        }
    expectSameAsPlain(input, "every pair of edge endpoints");
}

TEST_P(VariantTest, EveryIndexPatternInEveryRow)
{
    // Four-colour and three-colour endpoints, each index byte in each row position.
    const unsigned endpoints[][2] = {{0xF800, 0x001F}, {0x001F, 0xF800}, {0x07E0, 0x07E0}};
    Bytes input;
    for (const auto &pair : endpoints)
        for (unsigned i = 0; i < 256; ++i) {
            const unsigned char rows[4] = {static_cast<unsigned char>(i), static_cast<unsigned char>(255 - i),
                                           static_cast<unsigned char>(i * 7), static_cast<unsigned char>(i ^ 0x5A)};
            const Bytes b = block(pair[0], pair[1], rows);
            input.insert(input.end(), b.begin(), b.end());
        }
    expectSameAsPlain(input, "index patterns");
}

TEST_P(VariantTest, EveryLengthUpTo400BytesAtEitherGuardPage)
{
    // 50 blocks: two whole groups of the widest variants (sixteen blocks)
    // and every tail after them, and more of the narrower ones'.
    std::mt19937 rng(7);
    Bytes pool(400);
    for (unsigned char &byte : pool)
        byte = static_cast<unsigned char>(rng());
    for (std::size_t len = 0; len <= pool.size(); ++len) {
        const Bytes input(pool.begin(), pool.begin() + len);
        expectSameAsPlain(input, "length " + std::to_string(len) + ", ending at a guard page");
        expectSameAsPlain(input, "length " + std::to_string(len) + ", starting at a guard page", Touching::Start);
    }
}

TEST_P(VariantTest, NothingWrittenAroundPlanesWithinOneBuffer)
{
    // Planes placed rowBytes·N + 5 bytes apart in one buffer: spare bytes must keep their value.
    std::mt19937 rng(3);
    for (std::size_t blocks = 1; blocks <= 40; ++blocks) {
        Bytes input(blocks * 8);
        for (unsigned char &byte : input)
            byte = static_cast<unsigned char>(rng());
        const std::size_t stride = blocks * GetParam().rowBytes() + 5;
        Bytes arena(4 * stride + 5, 0xA5), expected = arena;
        unsigned char *outdata[4], *expectedData[4];
        for (int i = 0; i < 4; ++i) {
            outdata[i] = &arena[5 + i * stride];
            expectedData[i] = &expected[5 + i * stride];
        }
        GetParam().decode()(input.data(), input.size(), outdata);
        GetParam().plain()(input.data(), input.size(), expectedData);
        EXPECT_EQ(arena, expected) << blocks << " blocks";
    }
}

TEST_P(VariantTest, MisalignedInputAndPlanes)
{
    // The input at every offset from a 16-byte boundary, each plane at another
    // one, with spare bytes around each plane that must keep their value.
    constexpr std::size_t kAlignment = 16, kSpare = 16;
    const std::size_t blocks = 37; // two groups of sixteen, then five
    std::mt19937 rng(5);
    Bytes input(blocks * 8);
    for (unsigned char &byte : input)
        byte = static_cast<unsigned char>(rng());
    const std::size_t region = (blocks * GetParam().rowBytes() + 2 * kSpare + kAlignment - 1) / kAlignment * kAlignment;
    for (std::size_t offset = 0; offset < kAlignment; ++offset) {
        Bytes inputArena(input.size() + 2 * kAlignment), arena(4 * region + kAlignment, 0xA5), expected;
        unsigned char *in = inputArena.data() + (kAlignment - reinterpret_cast<std::uintptr_t>(inputArena.data()) % kAlignment) + offset;
        std::copy(input.begin(), input.end(), in);
        const std::size_t arenaStart = kAlignment - reinterpret_cast<std::uintptr_t>(arena.data()) % kAlignment;
        std::size_t planeStart[4];
        for (std::size_t yo = 0; yo < 4; ++yo)
            planeStart[yo] = arenaStart + yo * region + kSpare + (offset + 5 * yo + 1) % kAlignment;
        expected = arena;
        unsigned char *outdata[4], *expectedData[4];
        for (int yo = 0; yo < 4; ++yo) {
            outdata[yo] = &arena[planeStart[yo]];
            expectedData[yo] = &expected[planeStart[yo]];
        }
        GetParam().decode()(in, input.size(), outdata);
        GetParam().plain()(input.data(), input.size(), expectedData);
        EXPECT_EQ(arena, expected) << "input " << offset << " bytes past a 16-byte boundary";
    }
}

std::string decoderName(const ::testing::TestParamInfo<Decoder> &info)
{
    return std::string(info.param.variant->name) + (info.param.pixelBytes == kRgbaBytes ? "_rgba" : "_rgb");
}

INSTANTIATE_TEST_SUITE_P(Vector, VariantTest, ::testing::ValuesIn(vectorDecoders()), decoderName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(VariantTest);

// What each variant needs of the CPU, stated here independently of the table,
// slowest first.
struct Requirement {
    const char *name;
    const char *label;
    bool met;
};

std::vector<Requirement> requirements()
{
    std::vector<Requirement> result = {{"plain", "plain C++", true}};
#ifdef DXT1_HAVE_X86_VARIANTS
    __builtin_cpu_init();
    result.push_back({"ssse3", "SSSE3", __builtin_cpu_supports("ssse3") != 0});
    result.push_back({"avx2", "AVX2", __builtin_cpu_supports("avx2") != 0});
    result.push_back({"avx512", "AVX-512", __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                               __builtin_cpu_supports("avx512vbmi")});
#endif
#ifdef __aarch64__
    result.push_back({"neon", "NEON", true}); // Advanced SIMD is part of every AArch64 CPU
#endif
    return result;
}

TEST(Dispatch, TableIsOrderedSlowestFirstWithEachVariantsCpuRequirement)
{
    std::size_t count;
    const Dxt1Variant *variants = dxt1Variants(&count);
    const std::vector<Requirement> expected = requirements();
    ASSERT_EQ(count, expected.size());
    EXPECT_EQ(variants[0].decode, decodeDXT1BlocksPlain);
    EXPECT_EQ(variants[0].decodeRgba, decodeDXT1ABlocksPlain);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_STREQ(variants[i].name, expected[i].name) << "position " << i;
        EXPECT_STREQ(variants[i].label, expected[i].label) << variants[i].name;
        EXPECT_EQ(variants[i].supported(), expected[i].met) << variants[i].name;
    }
}

TEST(Dispatch, UsesTheFastestVariantThisCpuRuns)
{
    const char *fastest = "plain";
    for (const Requirement &requirement : requirements())
        if (requirement.met)
            fastest = requirement.name;
    EXPECT_STREQ(dxt1ChosenVariant().name, fastest);
    EXPECT_EQ(dxt1DecoderLabel(), dxt1ChosenVariant().label);
    std::printf("decodeDXT1Blocks and decodeDXT1ABlocks use the %s variant\n", dxt1DecoderLabel());
}

} // namespace
