// DXT1 block decoder.
//
// `data` holds a run of 8-byte DXT1 blocks: c0 and c1 (RGB565, little-endian)
// followed by sixteen 2-bit indices (little-endian, row-major from the top-left
// pixel, lowest bits first). The blocks are floor(len / 8); trailing bytes are
// ignored. `outdata[yo]` receives pixel row `yo` of every block, 12 bytes (four
// RGB pixels) per block in input order, so each plane must hold at least
// 12 * floor(len / 8) bytes; nothing past that is written and nothing past
// 8 * floor(len / 8) input bytes is read. The decoder allocates nothing, cannot
// fail, keeps no state and is reentrant.
#ifndef DXT1_DECODER_H
#define DXT1_DECODER_H

#include <cstddef>

void decodeDXT1Blocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4]);

#endif
