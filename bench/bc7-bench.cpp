// BC7 decoder time per block, per variant, on runs of 4096 blocks: of each
// mode alone, and photo-like (every mode mixed, in proportions like those of
// an encoder's output on photographs, in random order). Each benchmark is
// repeated and reported by its median of "ns_per_block"; a table at the end
// gives those medians side by side and each variant's speed-up over the
// plain decoder, measured in the same run.
#include "bc7-decoder.h"
#include "bc7-tables.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

typedef void (*Decode)(const unsigned char *, std::size_t, unsigned char *const[4]);

constexpr std::size_t kBlocks = 4096;
constexpr int kRepetitions = 9;

// The share of each mode in the mixed runs, in percent (modes 0 to 7): an
// assumed mix, mostly the opaque modes 6, 1 and 3 with some alpha modes 4
// and 5, and a little of each of the rest.
constexpr unsigned kMixedShare[kBc7Modes] = {3, 25, 3, 12, 7, 10, 35, 5};
constexpr int kMixed = -1;

// Random blocks of one mode (random bits under the mode's own), or of the mix.
std::vector<unsigned char> blocksOf(int mode)
{
    std::mt19937 rng(static_cast<unsigned>(mode + 100));
    std::vector<unsigned char> data(kBlocks * kBc7BlockBytes);
    for (unsigned char &byte : data)
        byte = static_cast<unsigned char>(rng());
    for (std::size_t b = 0; b < kBlocks; ++b) {
        unsigned m = static_cast<unsigned>(mode);
        if (mode == kMixed) {
            unsigned draw = rng() % 100;
            for (m = 0; draw >= kMixedShare[m]; ++m)
                draw -= kMixedShare[m];
        }
        unsigned char &first = data[b * kBc7BlockBytes];
        first = static_cast<unsigned char>((first & (0xFFu << (m + 1))) | 1u << m);
    }
    return data;
}

struct Variant {
    const char *name;
    Decode decode;
    bool supported;
};

std::vector<Variant> variants()
{
    std::vector<Variant> result = {{"plain", decodeBC7BlocksPlain, true}};
#ifdef DXT1_HAVE_X86_VARIANTS
    __builtin_cpu_init();
    result.push_back({"ssse3", decodeBC7BlocksSSSE3, __builtin_cpu_supports("ssse3") != 0});
    result.push_back({"avx2", decodeBC7BlocksAVX2, __builtin_cpu_supports("avx2") != 0});
#endif
#ifdef DXT1_HAVE_NEON_VARIANT
    result.push_back({"neon", decodeBC7BlocksNEON, true});
#endif
    return result;
}

void decodeRun(benchmark::State &state, Decode decode, int mode)
{
    const std::vector<unsigned char> input = blocksOf(mode);
    std::vector<unsigned char> planes[4];
    unsigned char *outdata[4];
    for (int i = 0; i < 4; ++i) {
        planes[i].assign(kBlocks * 16, 1); // touched before timing
        outdata[i] = planes[i].data();
    }
    for (auto _ : state) {
        decode(input.data(), input.size(), outdata);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kBlocks));
    state.counters["ns_per_block"] = benchmark::Counter(
        static_cast<double>(kBlocks) * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

std::string runName(int mode) { return mode == kMixed ? "mixed" : "mode" + std::to_string(mode); }

int registerAll()
{
    // Interleaved by run, so that each variant of one run is measured close
    // in time to the others.
    for (int mode = kMixed; mode < int(kBc7Modes); ++mode)
        for (const Variant &variant : variants()) {
            if (!variant.supported)
                continue;
            benchmark::RegisterBenchmark(("bc7/" + runName(mode) + "/" + variant.name).c_str(), decodeRun,
                                         variant.decode, mode)
                ->Repetitions(kRepetitions)
                ->ReportAggregatesOnly(true);
        }
    return 0;
}

// The console's lines, then the medians as a table.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            const auto counter = run.counters.find("ns_per_block");
            if (run.aggregate_name == "median" && counter != run.counters.end())
                medians_[run.run_name.function_name] = counter->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const std::vector<Variant> all = variants();
        std::printf("\nMedian ns per block (speed-up over plain)\n%-8s", "run");
        for (const Variant &variant : all)
            if (variant.supported)
                std::printf(" %16s", variant.name);
        std::printf("\n");
        for (int mode = kMixed; mode < int(kBc7Modes); ++mode) {
            const double plain = medians_["bc7/" + runName(mode) + "/plain"];
            if (plain == 0)
                continue; // not run (filtered out)
            std::printf("%-8s", runName(mode).c_str());
            for (const Variant &variant : all) {
                if (!variant.supported)
                    continue;
                const double ns = medians_["bc7/" + runName(mode) + "/" + variant.name];
                std::printf(" %8.2f (%4.1fx)", ns, ns > 0 ? plain / ns : 0.0);
            }
            std::printf("\n");
        }
    }

private:
    std::map<std::string, double> medians_;
};

const int registered = registerAll();

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
