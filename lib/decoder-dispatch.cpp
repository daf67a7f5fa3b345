// The decoders of block-decoder.h: each runs the variant BCN_DECODER names,
// or the fastest this CPU supports, chosen once, or the nearest slower
// variant's kernel where that one has none of its own.
#include "block-decoder.h"
#include "decoder-variants.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool always() { return true; }

#ifdef HAVE_X86_VARIANTS
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
           __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi");
}
#endif

// The one place that knows the variants' order: slowest first.
const DecoderVariant variants[] = {
    {"plain", "plain C++", &plainDecoders, always},
#ifdef HAVE_X86_VARIANTS
    {"ssse3", "SSSE3", &ssse3Decoders, cpuHasSSSE3},
    {"avx2", "AVX2", &avx2Decoders, cpuHasAVX2},
    {"avx512", "AVX-512", &avx512Decoders, cpuHasAVX512VBMI},
#endif
#ifdef HAVE_NEON_VARIANT
    {"neon", "NEON", &neonDecoders, always},
#endif
};
constexpr std::size_t kVariantCount = sizeof variants / sizeof variants[0];

const DecoderVariant &fastest()
{
    std::size_t best = 0;
    for (std::size_t i = 1; i < kVariantCount; ++i)
        if (variants[i].supported())
            best = i;
    return variants[best];
}

// The choice, made once: the variant, and what BCN_DECODER held when it names
// none that runs here (kept to be quoted; longer values are cut, and match no
// name either way).
struct Choice {
    const DecoderVariant *variant;
    bool refused;
    char requested[64];
};
Choice choice;

// 0 before the choice, 1 while one thread makes it, 2 once made. The first
// caller chooses and the others wait for it; atomics rather than a guarded
// static keep the library free of the C++ runtime, so that the module loads
// beside any libstdc++ or none.
std::atomic<int> choiceState{0};

const Choice &madeChoice()
{
    if (choiceState.load(std::memory_order_acquire) != 2) {
        int expected = 0;
        if (choiceState.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
            const char *name = std::getenv(BCN_DECODER_VARIABLE);
            const DecoderVariant *named = decoderVariantNamed(name);
            choice.refused = named == nullptr;
            choice.variant = named != nullptr ? named : &fastest();
            if (choice.refused)
                std::snprintf(choice.requested, sizeof choice.requested, "%s", name);
            choiceState.store(2, std::memory_order_release);
        } else {
            while (choiceState.load(std::memory_order_acquire) != 2) {
            }
        }
    }
    return choice;
}

} // namespace

const DecoderVariant *decoderVariants(std::size_t *count)
{
    *count = kVariantCount;
    return variants;
}

const DecoderVariant &chosenDecoderVariant()
{
    return *madeChoice().variant;
}

const DecoderVariant *decoderVariantNamed(const char *name)
{
    if (name == nullptr || *name == '\0')
        return &fastest();
    for (const DecoderVariant &variant : variants)
        if (std::strcmp(variant.name, name) == 0)
            return variant.supported() ? &variant : nullptr;
    return nullptr;
}

bool decoderChoiceError(char *message, std::size_t size)
{
    const Choice &made = madeChoice();
    if (!made.refused)
        return false;
    int written = std::snprintf(message, size, "%s=%s names no decoder variant that this machine runs; choose ",
                                BCN_DECODER_VARIABLE, made.requested);
    for (const DecoderVariant &variant : variants) {
        if (written < 0 || static_cast<std::size_t>(written) >= size)
            break;
        if (variant.supported())
            written += std::snprintf(message + written, size - written, "%s, ", variant.name);
    }
    if (written >= 0 && static_cast<std::size_t>(written) < size)
        std::snprintf(message + written, size - written, "or nothing for the fastest");
    return true;
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
