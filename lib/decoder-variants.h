// The decoder's variants, for the dispatcher, the tests and the benchmarks.
//
// A variant (plain, SSSE3, ...) holds a table of decoders, one per format and
// colour rule, each with the contract of block-decoder.h and writing the same
// bytes as the plain variant's. A variant may leave an entry empty: the
// dispatcher then runs the entry of the nearest slower variant that has one,
// so the plain variant fills every entry.
#ifndef DECODER_VARIANTS_H
#define DECODER_VARIANTS_H

#include <cstddef>
#include <type_traits>

#include "block-decoder.h"

// Indexed by format, then rule.
struct DecoderTable {
    BlockDecodeFunction decode[kBlockFormatCount][kColourRuleCount];
};

// The plain table is built through these, which check at compile time that
// it has a row for every format and a decoder for every rule in each: a
// missing row or a nullptr entry fails the build. (They look at types and
// counts, not at addresses, which a sanitized build cannot compare in a
// constant expression.)
struct FullRow {
    BlockDecodeFunction design, gpu;
};

template <class Design, class Gpu>
constexpr FullRow fullRow(Design design, Gpu gpu)
{
    static_assert(!std::is_same<Design, std::nullptr_t>::value && !std::is_same<Gpu, std::nullptr_t>::value,
                  "a full table has a decoder for every rule");
    return {design, gpu};
}

template <class... Rows>
constexpr DecoderTable fullTable(Rows... rows)
{
    static_assert(sizeof...(Rows) == kBlockFormatCount, "a full table has a row for every format");
    return {{{rows.design, rows.gpu}...}};
}

struct DecoderVariant {
    const char *name;             // short, for tests and benchmarks: "avx2"
    const char *label;            // for people: "AVX2"
    const DecoderTable *decoders; // its own kernels; empty entries fall back
    bool (*supported)();          // whether this CPU can run it
};

// The variants' kernels take the output's bytes per pixel as a template
// parameter where one kernel writes several: RGB or RGBA, four pixels a block row.
constexpr unsigned kRgbBytes = 3, kRgbaBytes = 4;

// All variants built for this target, slowest first; the plain one is first.
const DecoderVariant *decoderVariants(std::size_t *count);

// The variant the decoders use on this CPU: the one BCN_DECODER names, or the
// fastest (see decoderChoiceError).
const DecoderVariant &chosenDecoderVariant();

// The variant a choice by `name` gives: the fastest this CPU supports where
// `name` is null or empty, else the variant of that name ("avx2") where this
// build has it and this CPU supports it; else null.
const DecoderVariant *decoderVariantNamed(const char *name);

// The decoder that `variant` runs for a format and rule: its own, else that
// of the nearest slower variant.
BlockDecodeFunction variantDecoder(const DecoderVariant &variant, BlockFormat format, ColourRule rule);

// Whether `variant` has a kernel of its own for the format and rule.
bool variantHasOwnDecoder(const DecoderVariant &variant, BlockFormat format, ColourRule rule);

// Each variant's table, defined in its folder's <variant>-decoders.cpp. Only
// the plain one is full.
extern const DecoderTable plainDecoders;

#if defined(__x86_64__) || defined(__i386__)
#define HAVE_X86_VARIANTS 1
extern const DecoderTable ssse3Decoders, avx2Decoders, avx512Decoders;
#endif

// Advanced SIMD is part of every AArch64 CPU. The decoders' loads assume
// little-endian lanes.
#if defined(__aarch64__) && defined(__ARM_NEON) && defined(__ORDER_LITTLE_ENDIAN__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define HAVE_NEON_VARIANT 1
extern const DecoderTable neonDecoders;
#endif

#endif
