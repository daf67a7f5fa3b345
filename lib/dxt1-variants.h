// The decoder's variants, for the dispatcher, the tests and the benchmarks.
// Each one has the contract of decodeDXT1Blocks and writes the same bytes.
#ifndef DXT1_VARIANTS_H
#define DXT1_VARIANTS_H

#include <cstddef>

typedef void (*Dxt1DecodeFunction)(const unsigned char *data, std::size_t len,
                                   unsigned char *const outdata[4]);

struct Dxt1Variant {
    const char *name;
    Dxt1DecodeFunction decode;
    bool (*supported)(); // whether this CPU can run it
};

// All variants built for this target, slowest first; the plain one is first.
const Dxt1Variant *dxt1Variants(std::size_t *count);

// The variant decodeDXT1Blocks uses on this CPU.
const Dxt1Variant &dxt1ChosenVariant();

void decodeDXT1BlocksPlain(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);

#if defined(__x86_64__) || defined(__i386__)
#define DXT1_HAVE_X86_VARIANTS 1
void decodeDXT1BlocksSSSE3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeDXT1BlocksAVX2(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeDXT1BlocksAVX512(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
#endif

// Advanced SIMD is part of every AArch64 CPU. The decoder's loads assume
// little-endian lanes.
#if defined(__aarch64__) && defined(__ARM_NEON) && defined(__ORDER_LITTLE_ENDIAN__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define DXT1_HAVE_NEON_VARIANT 1
void decodeDXT1BlocksNEON(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
#endif

#endif
