// Decoder throughput per variant, RGB and RGBA, against the floor: memset of
// the same four planes (12 or 16 bytes a block). Planes are touched before
// timing.
#include "bc6h-runs.h"
#include "bc7-runs.h"
#include "block-decoder.h"
#include "decoder-variants.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// The widest pixel of any format in the table.
constexpr unsigned widestPixel(unsigned f = 0)
{
    return f == kBlockFormatCount ? 0
           : kBlockFormats[f].pixelBytes > widestPixel(f + 1) ? kBlockFormats[f].pixelBytes
                                                               : widestPixel(f + 1);
}

struct Surface {
    std::vector<unsigned char> input;
    std::vector<unsigned char> planes[4];
    unsigned char *outdata[4];

    explicit Surface(std::size_t blocks, std::size_t blockBytes = 8) : input(blocks * blockBytes)
    {
        std::mt19937 rng(1);
        for (unsigned char &byte : input)
            byte = static_cast<unsigned char>(rng());
        for (int i = 0; i < 4; ++i) {
            planes[i].assign(blocks * 4 * widestPixel(), 1); // room for any format's planes
            outdata[i] = planes[i].data();
        }
    }
};

void setCounters(benchmark::State &state, std::size_t blocks)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * blocks * 48));
    state.counters["blocks"] = static_cast<double>(blocks);
}

void memsetFloor(benchmark::State &state, std::size_t rowBytes)
{
    const std::size_t blocks = static_cast<std::size_t>(state.range(0));
    Surface surface(blocks);
    for (auto _ : state) {
        for (int i = 0; i < 4; ++i)
            std::memset(surface.outdata[i], 0x5A, blocks * rowBytes);
        benchmark::ClobberMemory();
    }
    setCounters(state, blocks);
}

// Random blocks, or a given run of them: one like an encoder's output
// (bc7-runs.h, bc6h-runs.h).
void decodeVariant(benchmark::State &state, BlockDecodeFunction decode, std::size_t blockBytes,
                   const std::vector<unsigned char> *run)
{
    const std::size_t blocks = static_cast<std::size_t>(state.range(0));
    Surface surface(blocks, blockBytes);
    const std::vector<unsigned char> &input = run ? *run : surface.input;
    for (auto _ : state) {
        decode(input.data(), input.size(), surface.outdata);
        benchmark::ClobberMemory();
    }
    setCounters(state, blocks);
}

// The work of one 1024 x 1024 texture decoded a block row per call, as the
// module's benchmark does from Python: 256 calls of 256 blocks.
void decodeRowByRow(benchmark::State &state)
{
    Surface surface(256 * 256);
    for (auto _ : state) {
        for (std::size_t row = 0; row < 256; ++row)
            decodeDXT1Blocks(surface.input.data() + row * 256 * 8, 256 * 8, surface.outdata);
        benchmark::ClobberMemory();
    }
    setCounters(state, 256 * 256);
}

const int64_t sizes[] = {1, 64, 4096, 1048576};
const int64_t kFamilyBlocks = 4096; // runs of the block family's table

int registerAll()
{
    for (int64_t blocks : sizes) {
        benchmark::RegisterBenchmark("memset", memsetFloor, 4 * kRgbBytes)->Arg(blocks);
        benchmark::RegisterBenchmark("memset-rgba", memsetFloor, 4 * kRgbaBytes)->Arg(blocks);
    }
    std::size_t count;
    const DecoderVariant *variants = decoderVariants(&count);
    std::string measured; // in the table's order, for the report
    for (std::size_t i = 0; i < count; ++i) {
        if (!variants[i].supported())
            continue;
        // RGBA as "<name>-rgba", measured in the same run, interleaved with the rest.
        const std::string rgba = std::string(variants[i].name) + "-rgba";
        for (int64_t blocks : sizes) {
            benchmark::RegisterBenchmark(variants[i].name, decodeVariant,
                                         variantDecoder(variants[i], BlockFormat::bc1, ColourRule::design), std::size_t(8), nullptr)
                ->Arg(blocks);
            benchmark::RegisterBenchmark(rgba.c_str(), decodeVariant,
                                         variantDecoder(variants[i], BlockFormat::bc1a, ColourRule::design), std::size_t(8), nullptr)
                ->Arg(blocks);
        }
        measured += (measured.empty() ? "" : ",") + std::string(variants[i].name);
    }
    benchmark::AddCustomContext("variants", measured);
    // The block family: every format and rule, in each variant (its own
    // kernel or the one it falls back to), as "family:VARIANT:FORMAT-RULE".
    for (std::size_t i = 0; i < count; ++i) {
        if (!variants[i].supported())
            continue;
        for (unsigned f = 0; f < kBlockFormatCount; ++f)
            for (unsigned r = 0; r < kColourRuleCount; ++r) {
                const BlockFormat format = BlockFormat(f);
                const std::string name = std::string("family:") + variants[i].name + ":" +
                                         blockFormatInfo(format).name + (r ? "-gpu" : "-design");
                benchmark::RegisterBenchmark(name.c_str(), decodeVariant,
                                             variantDecoder(variants[i], format, ColourRule(r)),
                                             std::size_t(blockFormatInfo(format).blockBytes), nullptr)
                    ->Arg(kFamilyBlocks);
            }
    }
    // BC7 and BC6H as encoders leave them, as "mixed:VARIANT:FORMAT"
    // (signed BC6H with the signs of real signed textures).
    static const std::vector<unsigned char> bc7Mixed = bc7Run(kBc7Mixed, kFamilyBlocks),
                                            bc6hMixed = bc6hMixedRun(kFamilyBlocks),
                                            bc6hSignedMixed = bc6hMixedRun(kFamilyBlocks, true);
    for (std::size_t i = 0; i < count; ++i) {
        if (!variants[i].supported())
            continue;
        for (BlockFormat format : {BlockFormat::bc7, BlockFormat::bc6h, BlockFormat::bc6hs}) {
            const std::string name = std::string("mixed:") + variants[i].name + ":" + blockFormatInfo(format).name;
            benchmark::RegisterBenchmark(name.c_str(), decodeVariant, variantDecoder(variants[i], format, ColourRule::design),
                                         std::size_t(blockFormatInfo(format).blockBytes),
                                         format == BlockFormat::bc7    ? &bc7Mixed
                                         : format == BlockFormat::bc6h ? &bc6hMixed
                                                                       : &bc6hSignedMixed)
                ->Arg(kFamilyBlocks);
        }
    }
    benchmark::RegisterBenchmark("rows256x256", decodeRowByRow);
    return 0;
}

const int registered = registerAll();

} // namespace

BENCHMARK_MAIN();
