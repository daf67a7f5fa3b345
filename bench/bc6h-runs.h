// The BC6H run that make bench sets against BC7's photo-like one
// (bc7-runs.h): blocks of every mode mixed in the proportions of five
// encoded HDR images, in random order, with random bits under each block's
// mode. About half of those blocks are one-region modes, where random bytes
// would make an eighth of them so, a quarter mode 0 and an eighth reserved.
#ifndef BC6H_BENCH_RUNS_H
#define BC6H_BENCH_RUNS_H

#include "bc6h-tables.h"

#include <cstddef>
#include <random>
#include <vector>

// The share of each mode in percent (modes in the table's order): those of
// the five encoded HDR images, 147,456 blocks in all, rounded.
constexpr unsigned kBc6hMixedShare[kBc6hModes] = {11, 1, 12, 1, 4, 8, 2, 1, 4, 5, 3, 8, 39, 1};

constexpr unsigned shareSum(unsigned m = 0) { return m == kBc6hModes ? 0 : kBc6hMixedShare[m] + shareSum(m + 1); }
static_assert(shareSum() == 100, "the shares are percentages");

// `nonNegative`: no endpoint negative in the signed form, as in real signed
// textures (of one encoded signed image's 32,768 blocks, 0.1% hold a
// negative half; random bits make most blocks' endpoints negative).
inline std::vector<unsigned char> bc6hMixedRun(std::size_t blocks, bool nonNegative = false)
{
    std::mt19937 rng(200);
    std::vector<unsigned char> data(blocks * kBc6hBlockBytes);
    for (unsigned char &byte : data)
        byte = static_cast<unsigned char>(rng());
    for (std::size_t b = 0; b < blocks; ++b) {
        unsigned draw = rng() % 100, m = 0;
        for (; draw >= kBc6hMixedShare[m]; ++m)
            draw -= kBc6hMixedShare[m];
        const Bc6hMode &mode = Bc6hTables::modes[m];
        unsigned char &first = data[b * kBc6hBlockBytes];
        const unsigned modeMask = (1u << mode.modeBits) - 1;
        first = static_cast<unsigned char>((first & ~modeMask) | mode.number);
        if (nonNegative)
            bc6hClearEndpointSigns(&first, mode);
    }
    return data;
}

#endif
