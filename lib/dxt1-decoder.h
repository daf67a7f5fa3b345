// DXT1 block decoder.
//
// `data` holds a run of 8-byte DXT1 blocks: c0 and c1 (RGB565, little-endian)
// followed by sixteen 2-bit indices (little-endian, row-major from the top-left
// pixel, lowest bits first). The blocks are floor(len / 8); trailing bytes are
// ignored. `outdata[yo]` receives pixel row `yo` of every block in input order:
// 12 bytes (four RGB pixels) per block from decodeDXT1Blocks, 16 bytes (four
// RGBA pixels) from decodeDXT1ABlocks, so each plane must hold at least 12 (or
// 16) * floor(len / 8) bytes; nothing past that is written and nothing past
// 8 * floor(len / 8) input bytes is read. Both give every pixel the same red,
// green and blue; decodeDXT1ABlocks adds alpha 255, except for index 3 of the
// three-colour mode (c0 <= c1), which it makes (0, 0, 0, 0) where
// decodeDXT1Blocks gives opaque black. The decoders allocate nothing, cannot
// fail, keep no state and are reentrant. dxt1DecoderLabel names, for people,
// the variant that both run on this CPU: "AVX-512", "AVX2", "SSSE3", "NEON" or
// "plain C++".
#ifndef DXT1_DECODER_H
#define DXT1_DECODER_H

#include <cstddef>

void decodeDXT1Blocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
void decodeDXT1ABlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);
const char *dxt1DecoderLabel();

#endif
