// The decoder's variants, for the dispatcher, the tests and the benchmarks.
// Each one has an RGB and an RGBA decoder, with the contracts of
// decodeDXT1Blocks and decodeDXT1ABlocks, and writes the same bytes as the
// plain variant.
#ifndef DXT1_VARIANTS_H
#define DXT1_VARIANTS_H

#include <cstddef>

typedef void (*Dxt1DecodeFunction)(const unsigned char *data, std::size_t len,
                                   unsigned char *const outdata[4]);

struct Dxt1Variant {
    const char *name;              // short, for tests and benchmarks: "avx2"
    const char *label;             // for people: "AVX2"
    Dxt1DecodeFunction decode;     // RGB: 3 bytes a pixel
    Dxt1DecodeFunction decodeRgba; // RGBA: 4 bytes a pixel
    bool (*supported)();           // whether this CPU can run it
};

// The variants' kernels take the output's bytes per pixel as a template
// parameter: RGB or RGBA, four pixels a block row.
constexpr unsigned kRgbBytes = 3, kRgbaBytes = 4;

// All variants built for this target, slowest first; the plain one is first.
const Dxt1Variant *dxt1Variants(std::size_t *count);

// The variant decodeDXT1Blocks and decodeDXT1ABlocks use on this CPU.
const Dxt1Variant &dxt1ChosenVariant();

void decodeDXT1BlocksPlain(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeDXT1ABlocksPlain(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);

#if defined(__x86_64__) || defined(__i386__)
#define DXT1_HAVE_X86_VARIANTS 1
void decodeDXT1BlocksSSSE3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeDXT1ABlocksSSSE3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeDXT1BlocksAVX2(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeDXT1ABlocksAVX2(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeDXT1BlocksAVX512(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeDXT1ABlocksAVX512(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
#endif

// Advanced SIMD is part of every AArch64 CPU. The decoder's loads assume
// little-endian lanes.
#if defined(__aarch64__) && defined(__ARM_NEON) && defined(__ORDER_LITTLE_ENDIAN__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define DXT1_HAVE_NEON_VARIANT 1
void decodeDXT1BlocksNEON(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeDXT1ABlocksNEON(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
#endif

#endif
