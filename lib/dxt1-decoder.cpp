// decodeDXT1Blocks and decodeDXT1ABlocks: run the fastest variant this CPU
// supports, chosen once.
#include "dxt1-decoder.h"
#include "dxt1-variants.h"

#include <atomic>

namespace {

bool always() { return true; }

#ifdef DXT1_HAVE_X86_VARIANTS
bool cpuHasSSSE3()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}

bool cpuHasAVX2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool cpuHasAVX512VBMI()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
}
#endif

const Dxt1Variant variants[] = {
    {"plain", "plain C++", decodeDXT1BlocksPlain, decodeDXT1ABlocksPlain, always},
#ifdef DXT1_HAVE_X86_VARIANTS
    {"ssse3", "SSSE3", decodeDXT1BlocksSSSE3, decodeDXT1ABlocksSSSE3, cpuHasSSSE3},
    {"avx2", "AVX2", decodeDXT1BlocksAVX2, decodeDXT1ABlocksAVX2, cpuHasAVX2},
    {"avx512", "AVX-512", decodeDXT1BlocksAVX512, decodeDXT1ABlocksAVX512, cpuHasAVX512VBMI},
#endif
#ifdef DXT1_HAVE_NEON_VARIANT
    {"neon", "NEON", decodeDXT1BlocksNEON, decodeDXT1ABlocksNEON, always},
#endif
};

const Dxt1Variant &choose()
{
    std::size_t best = 0;
    for (std::size_t i = 1; i < sizeof variants / sizeof variants[0]; ++i)
        if (variants[i].supported())
            best = i;
    return variants[best];
}

// Threads that race to the first call each choose, and choose the same; an
// atomic rather than a guarded static keeps the library free of the C++
// runtime, so that the module loads beside any libstdc++ or none.
std::atomic<const Dxt1Variant *> chosenVariant{nullptr};

} // namespace

const Dxt1Variant *dxt1Variants(std::size_t *count)
{
    *count = sizeof variants / sizeof variants[0];
    return variants;
}

const Dxt1Variant &dxt1ChosenVariant()
{
    const Dxt1Variant *chosen = chosenVariant.load(std::memory_order_acquire);
    if (chosen == nullptr) {
        chosen = &choose();
        chosenVariant.store(chosen, std::memory_order_release);
    }
    return *chosen;
}

void decodeDXT1Blocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    dxt1ChosenVariant().decode(data, len, outdata);
}

void decodeDXT1ABlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    dxt1ChosenVariant().decodeRgba(data, len, outdata);
}

const char *dxt1DecoderLabel()
{
    return dxt1ChosenVariant().label;
}
