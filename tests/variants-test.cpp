// Every vector variant's own kernels against the plain decoder, whatever
// dispatch would pick: each format and colour rule a variant has a kernel for,
// read from the variants' tables, so that a new format's row is tested here
// once its blocks can be made (block-sources.h). These catch a lane that
// differs from the plain decoder on some value, mode or partition, reads or
// writes outside the contract's bytes, and mishandled run tails.
#include "block-decoder.h"
#include "block-sources.h"
#include "decoder-variants.h"
#include "guarded-decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

// A variant's decoder of one format under one rule, with the plain decoder of the same.
struct Decoder {
    const DecoderVariant *variant;
    BlockFormat format;
    ColourRule rule;

    const BlockFormatInfo &info() const { return blockFormatInfo(format); }
    BlockDecodeFunction decode() const { return variantDecoder(*variant, format, rule); }
    BlockDecodeFunction plain() const
    {
        return plainDecoders.decode[static_cast<unsigned>(format)][static_cast<unsigned>(rule)];
    }
    std::size_t rowBytes() const { return 4 * info().pixelBytes; }
    std::size_t blockBytes() const { return info().blockBytes; }
};

const char *ruleName(ColourRule rule)
{
    return rule == ColourRule::gpu ? "gpu" : "design";
}

void PrintTo(const Decoder &decoder, std::ostream *out)
{
    *out << decoder.variant->name << " " << decoder.info().name << " " << ruleName(decoder.rule);
}

std::vector<Decoder> vectorDecoders()
{
    std::size_t count;
    const DecoderVariant *variants = decoderVariants(&count);
    std::vector<Decoder> result;
    for (std::size_t i = 1; i < count; ++i)
        for (unsigned f = 0; f < kBlockFormatCount; ++f)
            for (unsigned r = 0; r < kColourRuleCount; ++r)
                // A kernel that serves both rules (BC7's) is tested once.
                if (variantHasOwnDecoder(variants[i], BlockFormat(f), ColourRule(r)) &&
                    (r == 0 || variants[i].decoders->decode[f][r] != variants[i].decoders->decode[f][0]))
                    result.push_back({&variants[i], BlockFormat(f), ColourRule(r)});
    return result;
}

Bytes colourBlock(unsigned c0, unsigned c1, const unsigned char rows[4])
{
    return {static_cast<unsigned char>(c0), static_cast<unsigned char>(c0 >> 8),
            static_cast<unsigned char>(c1), static_cast<unsigned char>(c1 >> 8),
            rows[0], rows[1], rows[2], rows[3]};
}

// A channel block whose pixel k has index (k + shift) % 8 under the given pattern.
Bytes channelBlock(unsigned e0, unsigned e1, std::uint64_t indices)
{
    Bytes b = {static_cast<unsigned char>(e0), static_cast<unsigned char>(e1)};
    for (int i = 0; i < 6; ++i)
        b.push_back(static_cast<unsigned char>(indices >> (8 * i)));
    return b;
}

// Sixteen 3-bit indices: pixel k's is (k + shift) % 8, so that eight shifts
// put every index at every pixel.
std::uint64_t rotatingIndices(unsigned shift)
{
    std::uint64_t bits = 0;
    for (unsigned k = 0; k < 16; ++k)
        bits |= std::uint64_t((k + shift) % 8) << (3 * k);
    return bits;
}

// One block of `format` from a colour half and a channel half: the half the
// format has (BC2's alphas are the channel half's bytes), both where it has two.
Bytes compose(BlockFormat format, const Bytes &colour, const Bytes &channel, const Bytes &otherChannel)
{
    Bytes b;
    switch (format) {
    case BlockFormat::bc1:
    case BlockFormat::bc1a:
        return colour;
    case BlockFormat::bc4:
    case BlockFormat::bc4s:
        return channel;
    case BlockFormat::bc5:
    case BlockFormat::bc5s:
        b = channel;
        b.insert(b.end(), otherChannel.begin(), otherChannel.end());
        return b;
    case BlockFormat::bc2:
    case BlockFormat::bc3:
    case BlockFormat::bc7: // sixteen bytes of some kind: its block sources make every mode
    case BlockFormat::bc6h:
    case BlockFormat::bc6hs:
        b = channel;
        b.insert(b.end(), colour.begin(), colour.end());
        return b;
    default:
        ADD_FAILURE() << "no edge-value blocks are made for format " << blockFormatInfo(format).name;
        return b;
    }
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
        ASSERT_EQ(decodeGuarded(d.decode(), input, side, d.rowBytes(), d.blockBytes()),
                  decodeGuarded(d.plain(), input, side, d.rowBytes(), d.blockBytes()))
            << what << ", " << input.size() << " bytes";
    }
};

TEST_P(VariantTest, RandomBlocks)
{
    // Runs of up to 4 KB, with a partial block after the whole ones.
    std::mt19937 rng(20261207);
    const std::size_t blockBytes = GetParam().blockBytes();
    const std::vector<BlockSource> sources = blockSources(GetParam().format);
    const std::size_t runs = std::max<std::size_t>(20, 200 / std::max<std::size_t>(1, sources.size()));
    for (const BlockSource &source : sources)
        for (std::size_t run = 0; run < runs; ++run) {
            Bytes input = source.make(rng, rng() % (4096 / blockBytes));
            input.resize(input.size() + rng() % blockBytes, static_cast<unsigned char>(rng()));
            expectSameAsPlain(input, source.name + ", run " + std::to_string(run));
        }
}

TEST_P(VariantTest, LongRunsAcrossGroupingChunks)
{
    // BC7's vector decoders group blocks by mode a chunk of some hundreds at
    // a time: runs ending on each side of half a chunk and of one, two and
    // three chunk lengths, which are whole groups of every other kernel too.
    std::mt19937 rng(512);
    for (const BlockSource &source : blockSources(GetParam().format))
        for (std::size_t blocks : {255, 256, 257, 511, 512, 513, 1023, 1024, 1025, 1535, 1536, 1537})
            expectSameAsPlain(source.make(rng, blocks), source.name + ", " + std::to_string(blocks) + " blocks");
}

TEST_P(VariantTest, EdgeValueEndpoints)
{
    // Every pair of edge endpoints in each half of the block: the mode
    // choices (equal, one above the other, signed -128 and -127 alike) and the
    // largest sums of the palette arithmetic.
    const unsigned colourEdges[] = {0x0000, 0x0001, 0x001F, 0x0020, 0x07E0, 0x07FF, 0x0800, 0x1234, 0x1235,
                                    0x7FFF, 0x8000, 0x8001, 0xF800, 0xFFDF, 0xFFFE, 0xFFFF};
    const unsigned channelEdges[] = {0, 1, 2, 126, 127, 128, 129, 130, 253, 254, 255};
    const unsigned char rows[4] = {0xE4, 0x1B, 0xFF, 0x00};
    const std::size_t nc = sizeof colourEdges / sizeof colourEdges[0], nh = sizeof channelEdges / sizeof channelEdges[0];
    Bytes input;
    for (std::size_t i = 0; i < std::max(nc * nc, nh * nh); ++i) {
        const Bytes colour = colourBlock(colourEdges[i / nc % nc], colourEdges[i % nc], rows);
        const std::size_t a = i / nh % nh, b = i % nh;
        const Bytes channel = channelBlock(channelEdges[a], channelEdges[b], rotatingIndices(static_cast<unsigned>(i)));
        const Bytes other = channelBlock(channelEdges[b], channelEdges[a], rotatingIndices(static_cast<unsigned>(i + 3)));
        const Bytes block = compose(GetParam().format, colour, channel, other);
        input.insert(input.end(), block.begin(), block.end());
    }
    expectSameAsPlain(input, "every pair of edge endpoints");
}

TEST_P(VariantTest, EveryIndexInEveryPixel)
{
    // Colour halves: four-colour, three-colour and equal endpoints, each index
    // byte in each row position. Channel halves: both modes and equal
    // endpoints, each index at each pixel.
    const unsigned colourEndpoints[][2] = {{0xF800, 0x001F}, {0x001F, 0xF800}, {0x07E0, 0x07E0}};
    const unsigned channelEndpoints[][2] = {{250, 3}, {3, 250}, {90, 90}, {0x81, 0x7F}, {0x7F, 0x81}};
    Bytes input;
    for (const auto &pair : colourEndpoints)
        for (unsigned i = 0; i < 256; ++i) {
            const unsigned char rows[4] = {static_cast<unsigned char>(i), static_cast<unsigned char>(255 - i),
                                           static_cast<unsigned char>(i * 7), static_cast<unsigned char>(i ^ 0x5A)};
            const auto &ends = channelEndpoints[i % 5];
            const Bytes block = compose(GetParam().format, colourBlock(pair[0], pair[1], rows),
                                        channelBlock(ends[0], ends[1], rotatingIndices(i % 8)),
                                        channelBlock(ends[1], ends[0], rotatingIndices(i / 8 % 8)));
            input.insert(input.end(), block.begin(), block.end());
        }
    expectSameAsPlain(input, "index patterns");
}

TEST_P(VariantTest, EveryLengthUpTo50BlocksAtEitherGuardPage)
{
    // 50 blocks: two whole groups of the widest variants (sixteen blocks)
    // and every tail after them, and more of the narrower ones'. Every byte
    // length of the first source's blocks, every block length of the others'.
    std::mt19937 rng(7);
    const std::vector<BlockSource> sources = blockSources(GetParam().format);
    for (std::size_t s = 0; s < sources.size(); ++s) {
        const Bytes pool = sources[s].make(rng, 50);
        const std::size_t step = s == 0 ? 1 : GetParam().blockBytes();
        for (std::size_t len = 0; len <= pool.size(); len += step) {
            const Bytes input(pool.begin(), pool.begin() + len);
            const std::string what = sources[s].name + ", length " + std::to_string(len);
            expectSameAsPlain(input, what + ", ending at a guard page");
            expectSameAsPlain(input, what + ", starting at a guard page", Touching::Start);
        }
    }
}

TEST_P(VariantTest, NothingWrittenAroundPlanesWithinOneBuffer)
{
    // Planes placed rowBytes·N + 5 bytes apart in one buffer: spare bytes must keep their value.
    std::mt19937 rng(3);
    const BlockSource source = blockSources(GetParam().format).at(0);
    for (std::size_t blocks = 1; blocks <= 40; ++blocks) {
        const Bytes input = source.make(rng, blocks);
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
    // The input at every offset from a 32-byte boundary (AVX2's loads), each
    // plane at another one, with spare bytes around each plane that must keep
    // their value.
    constexpr std::size_t kAlignment = 32, kSpare = kAlignment;
    const std::size_t blocks = 37; // two groups of sixteen, then five
    std::mt19937 rng(5);
    const Bytes input = blockSources(GetParam().format).at(0).make(rng, blocks);
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
        EXPECT_EQ(arena, expected) << "input " << offset << " bytes past a 32-byte boundary";
    }
}

std::string decoderName(const ::testing::TestParamInfo<Decoder> &info)
{
    return std::string(info.param.variant->name) + "_" + info.param.info().name + "_" + ruleName(info.param.rule);
}

INSTANTIATE_TEST_SUITE_P(Vector, VariantTest, ::testing::ValuesIn(vectorDecoders()), decoderName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(VariantTest);

// The signed channel formats' kernels, against values worked by hand.
class SignedChannelTest : public VariantTest {
};

std::vector<Decoder> signedChannelDecoders()
{
    std::vector<Decoder> result;
    for (const Decoder &d : vectorDecoders())
        if (d.format == BlockFormat::bc4s || d.format == BlockFormat::bc5s)
            result.push_back(d);
    return result;
}

TEST_P(SignedChannelTest, ValuesNearZeroAndOnWholeSteps)
{
    // Signed channels, worked by hand, in every lane of every group: block A
    // (e0 = 1, e1 = -1) makes values of 5/7 to -5/7, which the design rule
    // truncates to 0 (bytes 128; its -1/7 to -5/7 are the sums just below
    // zero) and the gpu rule rounds to 1, 0 or -1; block B (e0 = -2, e1 = -9)
    // makes whole values -3 to -8, exact under both rules. Bytes: v + 128
    // from 0 on, v + 127 below. Pixel k has index k % 8.
    const Decoder &d = GetParam();
    const bool gpu = d.rule == ColourRule::gpu;
    const unsigned char paletteA[2][8] = {{129, 126, 128, 128, 128, 128, 128, 128}, {129, 126, 129, 128, 128, 128, 128, 126}};
    const unsigned char paletteB[8] = {125, 118, 124, 123, 122, 121, 120, 119};
    const Bytes a = channelBlock(0x01, 0xFF, rotatingIndices(0)), b = channelBlock(0xFE, 0xF7, rotatingIndices(0));
    // 37 channel blocks: A and B alternate, so each lands in either half of every lane.
    constexpr unsigned kChannelBlocks = 37;
    Bytes input;
    for (unsigned i = 0; i < kChannelBlocks; ++i)
        input.insert(input.end(), (i % 2 ? b : a).begin(), (i % 2 ? b : a).end());
    const auto planes = decodeGuarded(d.decode(), input, Touching::End, d.rowBytes(), d.blockBytes());
    const unsigned channels = d.info().pixelBytes; // BC5: channel blocks 2i and 2i + 1 are block i's red and green
    for (unsigned i = 0; i + 1 < kChannelBlocks; ++i)
        for (unsigned k = 0; k < 16; ++k) {
            const unsigned char expected = i % 2 ? paletteB[k % 8] : paletteA[gpu][k % 8];
            const std::size_t at = (i / channels) * d.rowBytes() + (k % 4) * channels + i % channels;
            ASSERT_EQ(planes[k / 4][at], expected) << "channel block " << i << ", pixel " << k;
        }
}

INSTANTIATE_TEST_SUITE_P(Vector, SignedChannelTest, ::testing::ValuesIn(signedChannelDecoders()), decoderName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SignedChannelTest);

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
#ifdef HAVE_X86_VARIANTS
    __builtin_cpu_init();
    result.push_back({"ssse3", "SSSE3", __builtin_cpu_supports("ssse3") != 0});
    result.push_back({"avx2", "AVX2", __builtin_cpu_supports("avx2") != 0});
    result.push_back({"avx512", "AVX-512", __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi")});
#endif
#ifdef __aarch64__
    result.push_back({"neon", "NEON", true}); // Advanced SIMD is part of every AArch64 CPU
#endif
    return result;
}

TEST(Dispatch, TableIsOrderedSlowestFirstWithEachVariantsCpuRequirement)
{
    std::size_t count;
    const DecoderVariant *variants = decoderVariants(&count);
    const std::vector<Requirement> expected = requirements();
    ASSERT_EQ(count, expected.size());
    EXPECT_EQ(variants[0].decoders, &plainDecoders);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_STREQ(variants[i].name, expected[i].name) << "position " << i;
        EXPECT_STREQ(variants[i].label, expected[i].label) << variants[i].name;
        EXPECT_EQ(variants[i].supported(), expected[i].met) << variants[i].name;
    }
}

const char *fastestName()
{
    const char *fastest = "plain";
    for (const Requirement &requirement : requirements())
        if (requirement.met)
            fastest = requirement.name;
    return fastest;
}

TEST(Dispatch, UsesTheFastestVariantThisCpuRuns)
{
    const char *named = std::getenv(BCN_DECODER_VARIABLE);
    if (named != nullptr && *named != '\0')
        GTEST_SKIP() << BCN_DECODER_VARIABLE << " chooses the variant by hand";
    EXPECT_STREQ(chosenDecoderVariant().name, fastestName());
    char message[256];
    EXPECT_FALSE(decoderChoiceError(message, sizeof message));
    EXPECT_EQ(decoderLabel(), chosenDecoderVariant().label);
    std::printf("the decoders use the %s variant\n", decoderLabel());
}

TEST(Dispatch, ChoosesEachVariantThisCpuRunsByNameAndNoOther)
{
    for (const Requirement &requirement : requirements()) {
        const DecoderVariant *named = decoderVariantNamed(requirement.name);
        if (requirement.met) {
            ASSERT_NE(named, nullptr) << requirement.name;
            EXPECT_STREQ(named->label, requirement.label);
        } else {
            EXPECT_EQ(named, nullptr) << requirement.name << " is not supported by this CPU";
        }
    }
    // Names of no variant, or of one this build lacks: each architecture lacks the other's.
    for (const char *name : {"bogus", "Plain", "plain ", "avx", "avx5120", "sse"})
        EXPECT_EQ(decoderVariantNamed(name), nullptr) << name;
#ifdef HAVE_X86_VARIANTS
    EXPECT_EQ(decoderVariantNamed("neon"), nullptr);
#else
    EXPECT_EQ(decoderVariantNamed("avx2"), nullptr);
#endif
    // Empty or unset: the fastest.
    ASSERT_NE(decoderVariantNamed(""), nullptr);
    EXPECT_STREQ(decoderVariantNamed("")->name, fastestName());
    ASSERT_NE(decoderVariantNamed(nullptr), nullptr);
    EXPECT_STREQ(decoderVariantNamed(nullptr)->name, fastestName());
}

TEST(Dispatch, EmptyEntriesRunTheNearestSlowerVariantsKernel)
{
    std::size_t count;
    const DecoderVariant *variants = decoderVariants(&count);
    for (unsigned f = 0; f < kBlockFormatCount; ++f)
        for (unsigned r = 0; r < kColourRuleCount; ++r) {
            const BlockFormat format = BlockFormat(f);
            const ColourRule rule = ColourRule(r);
            ASSERT_TRUE(variantHasOwnDecoder(variants[0], format, rule)) << "the plain table must be full";
            BlockDecodeFunction expected = nullptr;
            for (std::size_t i = 0; i < count; ++i) {
                if (variantHasOwnDecoder(variants[i], format, rule))
                    expected = variants[i].decoders->decode[f][r];
                EXPECT_EQ(variantDecoder(variants[i], format, rule), expected)
                    << variants[i].name << " " << blockFormatInfo(format).name << " " << ruleName(rule);
            }
        }
}

// The kernel tests above run only the entries a variant fills, so an entry
// left empty would pass them silently, running a slower variant's kernel.
// Every vector variant has one of its own for every format and rule.
TEST(Dispatch, EveryVectorVariantFillsItsWholeTable)
{
    std::size_t count;
    const DecoderVariant *variants = decoderVariants(&count);
    for (std::size_t i = 1; i < count; ++i)
        for (unsigned f = 0; f < kBlockFormatCount; ++f)
            for (unsigned r = 0; r < kColourRuleCount; ++r)
                EXPECT_TRUE(variantHasOwnDecoder(variants[i], BlockFormat(f), ColourRule(r)))
                    << variants[i].name << " " << blockFormatInfo(BlockFormat(f)).name << " " << ruleName(ColourRule(r));
}

} // namespace
