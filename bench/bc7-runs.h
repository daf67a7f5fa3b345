// The BC7 runs that bc7-bench times and instruction-count counts: random
// blocks of each mode alone, and photo-like (every mode mixed, in
// proportions like those of an encoder's output on photographs, in random
// order); and the variants this target builds.
#ifndef BC7_BENCH_RUNS_H
#define BC7_BENCH_RUNS_H

#include "bc7-tables.h"
#include "decoder-variants.h"

#include <cstddef>
#include <random>
#include <string>
#include <vector>

// The share of each mode in the mixed runs, in percent (modes 0 to 7): an
// assumed mix, mostly the opaque modes 6, 1 and 3 with some alpha modes 4
// and 5, and a little of each of the rest.
constexpr unsigned kBc7MixedShare[kBc7Modes] = {3, 25, 3, 12, 7, 10, 35, 5};
constexpr int kBc7Mixed = -1;

inline std::string bc7RunName(int mode) { return mode == kBc7Mixed ? "mixed" : "mode" + std::to_string(mode); }

// Random blocks of one mode (random bits under the mode's own), or of the mix.
inline std::vector<unsigned char> bc7Run(int mode, std::size_t blocks)
{
    std::mt19937 rng(static_cast<unsigned>(mode + 100));
    std::vector<unsigned char> data(blocks * kBc7BlockBytes);
    for (unsigned char &byte : data)
        byte = static_cast<unsigned char>(rng());
    for (std::size_t b = 0; b < blocks; ++b) {
        unsigned m = static_cast<unsigned>(mode);
        if (mode == kBc7Mixed) {
            unsigned draw = rng() % 100;
            for (m = 0; draw >= kBc7MixedShare[m]; ++m)
                draw -= kBc7MixedShare[m];
        }
        unsigned char &first = data[b * kBc7BlockBytes];
        first = static_cast<unsigned char>((first & (0xFFu << (m + 1))) | 1u << m);
    }
    return data;
}

struct Bc7Variant {
    const char *name;
    BlockDecodeFunction decode;
    bool supported;
};

// The variants with a BC7 kernel of their own, plain first.
inline std::vector<Bc7Variant> bc7Variants()
{
    std::size_t count;
    const DecoderVariant *all = decoderVariants(&count);
    std::vector<Bc7Variant> result;
    for (std::size_t i = 0; i < count; ++i)
        if (variantHasOwnDecoder(all[i], BlockFormat::bc7, ColourRule::design))
            result.push_back({all[i].name, variantDecoder(all[i], BlockFormat::bc7, ColourRule::design),
                              all[i].supported()});
    return result;
}

#endif
