// The decoders of block-decoder.h: each runs the fastest variant this CPU
// supports, chosen once, or the nearest slower variant's kernel where that
// one has none of its own.
#include "block-decoder.h"
#include "decoder-variants.h"

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

// The one place that knows the variants' order: slowest first.
const DecoderVariant variants[] = {
    {"plain", "plain C++", &plainDecoders, always},
#ifdef DXT1_HAVE_X86_VARIANTS
    {"ssse3", "SSSE3", &ssse3Decoders, cpuHasSSSE3},
    {"avx2", "AVX2", &avx2Decoders, cpuHasAVX2},
    {"avx512", "AVX-512", &avx512Decoders, cpuHasAVX512VBMI},
#endif
#ifdef DXT1_HAVE_NEON_VARIANT
    {"neon", "NEON", &neonDecoders, always},
#endif
};
constexpr std::size_t kVariantCount = sizeof variants / sizeof variants[0];

const DecoderVariant &choose()
{
    std::size_t best = 0;
    for (std::size_t i = 1; i < kVariantCount; ++i)
        if (variants[i].supported())
            best = i;
    return variants[best];
}

// Threads that race to the first call each choose, and choose the same; an
// atomic rather than a guarded static keeps the library free of the C++
// runtime, so that the module loads beside any libstdc++ or none.
std::atomic<const DecoderVariant *> chosenVariant{nullptr};

} // namespace

const DecoderVariant *decoderVariants(std::size_t *count)
{
    *count = kVariantCount;
    return variants;
}

const DecoderVariant &chosenDecoderVariant()
{
    const DecoderVariant *chosen = chosenVariant.load(std::memory_order_acquire);
    if (chosen == nullptr) {
        chosen = &choose();
        chosenVariant.store(chosen, std::memory_order_release);
    }
    return *chosen;
}

BlockDecodeFunction variantDecoder(const DecoderVariant &variant, BlockFormat format, ColourRule rule)
{
    const unsigned f = static_cast<unsigned>(format), r = static_cast<unsigned>(rule);
    for (std::size_t i = static_cast<std::size_t>(&variant - variants) + 1; i-- > 0;)
        if (BlockDecodeFunction decode = variants[i].decoders->decode[f][r])
            return decode;
    return nullptr; // not reached: the plain table is full
}

bool variantHasOwnDecoder(const DecoderVariant &variant, BlockFormat format, ColourRule rule)
{
    return variant.decoders->decode[static_cast<unsigned>(format)][static_cast<unsigned>(rule)] != nullptr;
}

BlockDecodeFunction blockDecoder(BlockFormat format, ColourRule rule)
{
    return variantDecoder(chosenDecoderVariant(), format, rule);
}

void decodeBlocks(BlockFormat format, ColourRule rule, const unsigned char *data, std::size_t len,
                  unsigned char *const outdata[4])
{
    blockDecoder(format, rule)(data, len, outdata);
}

void decodeDXT1Blocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    decodeBlocks(BlockFormat::bc1, ColourRule::design, data, len, outdata);
}

void decodeDXT1ABlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    decodeBlocks(BlockFormat::bc1a, ColourRule::design, data, len, outdata);
}

const char *decoderLabel()
{
    return chosenDecoderVariant().label;
}
