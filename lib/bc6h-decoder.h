// BC6H block decoder.
//
// `data` holds a run of 16-byte BC6H blocks; the blocks are floor(len / 16),
// trailing bytes are ignored. `outdata[yo]` receives pixel row `yo` of every
// block in input order: 24 bytes (four pixels of three little-endian half
// floats, red, green, blue) per block, so each plane must hold at least
// 24 * floor(len / 16) bytes; nothing past that is written and nothing past
// 16 * floor(len / 16) input bytes is read. The unsigned form (bc6h) and the
// signed form (bc6hs) read the same bits differently. Every block decodes
// exactly as the format defines it, whatever its bits: a block of a reserved
// mode gives zeros. The decoders allocate nothing, cannot fail, keep no state
// and are reentrant, and all of them write the same bytes as the plain one.
#ifndef BC6H_DECODER_H
#define BC6H_DECODER_H

#include "decoder-variants.h" // which vector variants this target builds

#include <cstddef>

void decodeBC6HBlocksPlain(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeBC6HSBlocksPlain(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);

#ifdef HAVE_X86_VARIANTS
// They need SSSE3, AVX2 and AVX-512 (F, BW, VL, VBMI) respectively: the caller checks.
void decodeBC6HBlocksSSSE3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeBC6HSBlocksSSSE3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeBC6HBlocksAVX2(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeBC6HSBlocksAVX2(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeBC6HBlocksAVX512(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeBC6HSBlocksAVX512(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
#endif

#ifdef HAVE_NEON_VARIANT
void decodeBC6HBlocksNEON(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeBC6HSBlocksNEON(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
#endif

#endif
