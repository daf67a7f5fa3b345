// BC7 block decoder.
//
// `data` holds a run of 16-byte BC7 blocks; the blocks are floor(len / 16),
// trailing bytes are ignored. `outdata[yo]` receives pixel row `yo` of every
// block in input order: 16 bytes (four RGBA pixels) per block, so each plane
// must hold at least 16 * floor(len / 16) bytes; nothing past that is written
// and nothing past 16 * floor(len / 16) input bytes is read. Every block
// decodes exactly as the format defines it, whatever its bits: a block with
// no mode (its first byte 0) gives (0, 0, 0, 0) for all sixteen pixels. The
// decoders allocate nothing, cannot fail, keep no state and are reentrant,
// and all of them write the same bytes as the plain one.
#ifndef BC7_DECODER_H
#define BC7_DECODER_H

#include "decoder-variants.h" // which vector variants this target builds

#include <cstddef>

void decodeBC7BlocksPlain(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);

#ifdef HAVE_X86_VARIANTS
// They need SSSE3, AVX2 and AVX-512 (F, BW, VL, VBMI) respectively: the caller checks.
void decodeBC7BlocksSSSE3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeBC7BlocksAVX2(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeBC7BlocksAVX512(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
#endif

#ifdef HAVE_NEON_VARIANT
void decodeBC7BlocksNEON(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
#endif

#endif
