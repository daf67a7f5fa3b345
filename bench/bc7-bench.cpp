// BC7 decoder time per block, per variant, on runs of 4096 blocks: of each
// mode alone, and photo-like (every mode mixed, in proportions like those of
// an encoder's output on photographs, in random order). Each benchmark is
// repeated and reported by its median of "per_block" (CPU time, which the
// machine's other load disturbs less than wall time); a table at the end
// gives those medians side by side and each variant's speed-up over the
// plain decoder, measured in the same run.
#include "bc7-runs.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <ostream>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kBlocks = 4096;
constexpr int kRepetitions = 9;

void decodeRun(benchmark::State &state, BlockDecodeFunction decode, int mode)
{
    const std::vector<unsigned char> input = bc7Run(mode, kBlocks);
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
    // Seconds a block (the console shows it with its SI prefix: "15.2ns").
    state.counters["per_block"] = benchmark::Counter(
        static_cast<double>(kBlocks), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

int registerAll()
{
    // Interleaved by run, so that each variant of one run is measured close
    // in time to the others.
    for (int mode = kBc7Mixed; mode < int(kBc7Modes); ++mode)
        for (const Bc7Variant &variant : bc7Variants()) {
            if (!variant.supported)
                continue;
            benchmark::RegisterBenchmark(("bc7/" + bc7RunName(mode) + "/" + variant.name).c_str(), decodeRun,
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
            const auto counter = run.counters.find("per_block");
            if (run.aggregate_name == "median" && counter != run.counters.end())
                medians_[run.run_name.function_name] = counter->second.value * 1e9;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::ostream &out = GetOutputStream();
        char cell[64];
        out << "\nMedian ns per block (speed-up over plain)\n";
        std::snprintf(cell, sizeof cell, "%-8s", "run");
        out << cell;
        const std::vector<Bc7Variant> all = bc7Variants();
        for (const Bc7Variant &variant : all)
            if (variant.supported) {
                std::snprintf(cell, sizeof cell, " %16s", variant.name);
                out << cell;
            }
        out << "\n";
        for (int mode = kBc7Mixed; mode < int(kBc7Modes); ++mode) {
            const double plain = medians_["bc7/" + bc7RunName(mode) + "/plain"];
            if (plain == 0)
                continue; // not run (filtered out)
            std::snprintf(cell, sizeof cell, "%-8s", bc7RunName(mode).c_str());
            out << cell;
            for (const Bc7Variant &variant : all) {
                if (!variant.supported)
                    continue;
                const double ns = medians_["bc7/" + bc7RunName(mode) + "/" + variant.name];
                std::snprintf(cell, sizeof cell, " %8.2f (%4.1fx)", ns, ns > 0 ? plain / ns : 0.0);
                out << cell;
            }
            out << "\n";
        }
        out.flush();
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
