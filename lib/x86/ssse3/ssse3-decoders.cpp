// The SSSE3 variant's table, and its kernels of BC1 to BC5: one block at a
// time. The palette is built in one register (lane-palettes.h), and each row
// is one byte shuffle of it and one store.
// One kernel writes RGB and RGBA, its pixel size a template parameter, under
// either colour rule, a template parameter of the palette alone. BC2 to BC5
// run lane-channels.h's kernels with one 128-bit lane a register: BC2 one
// block at a time, BC3 and BC4 two, BC5 one.
#include "bc6h-decoder.h"
#include "bc7-decoder.h"
#include "decoder-variants.h"

#ifdef HAVE_X86_VARIANTS

#include "ssse3-lanes.h"

#include "lane-channels.h"

namespace {

// The palette of the 8-byte block at `block`.
template <unsigned PixelBytes, ColourRule Rule>
VARIANT_TARGET inline __m128i blockPalette(const unsigned char *block)
{
    // 16-bit lanes 0-5: c0 three times, then c1 three times.
    const __m128i spreadEndpoints = _mm_setr_epi8(0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, -1, -1, -1, -1);
    const __m128i raw = _mm_shuffle_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(block)), spreadEndpoints);
    return lanePalettes<Ssse3, PixelBytes, Rule>(raw);
}

// One block: each row one byte shuffle of its palette and one 16-byte store,
// RGBA rows exactly, RGB rows with 4 spare bytes that the next block overwrites.
template <unsigned PixelBytes, ColourRule Rule>
VARIANT_TARGET inline void colourGroup(const unsigned char *block, unsigned char *const outdata[4], std::size_t emit)
{
    const __m128i palette = blockPalette<PixelBytes, Rule>(block);
    for (unsigned yo = 0; yo < 4; ++yo)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(outdata[yo] + emit), row<PixelBytes>(palette, block[4 + yo]));
}

template <unsigned PixelBytes, ColourRule Rule>
VARIANT_TARGET void decodeBlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    eachGroup<PixelBytes == kRgbaBytes ? BlockFormat::bc1a : BlockFormat::bc1, 1, colourGroup<PixelBytes, Rule>,
              16 - 4 * PixelBytes>(data, len, outdata);
}

constexpr ColourRule design = ColourRule::design, gpu = ColourRule::gpu;

} // namespace

const DecoderTable ssse3Decoders = {{
    /* bc1  */ {decodeBlocks<kRgbBytes, design>, decodeBlocks<kRgbBytes, gpu>},
    /* bc1a */ {decodeBlocks<kRgbaBytes, design>, decodeBlocks<kRgbaBytes, gpu>},
    /* bc2  */ {decodeBC2<Ssse3, design>, decodeBC2<Ssse3, gpu>},
    /* bc3  */ {decodeBC3<Ssse3, design>, decodeBC3<Ssse3, gpu>},
    /* bc4  */ {decodeBC4<Ssse3, design, false>, decodeBC4<Ssse3, gpu, false>},
    /* bc4s */ {decodeBC4<Ssse3, design, true>, decodeBC4<Ssse3, gpu, true>},
    /* bc5  */ {decodeBC5<Ssse3, design, false>, decodeBC5<Ssse3, gpu, false>},
    /* bc5s */ {decodeBC5<Ssse3, design, true>, decodeBC5<Ssse3, gpu, true>},
    /* bc7  */ {decodeBC7BlocksSSSE3, decodeBC7BlocksSSSE3},
    /* bc6h */ {decodeBC6HBlocksSSSE3, decodeBC6HBlocksSSSE3},
    /* bc6hs */ {decodeBC6HSBlocksSSSE3, decodeBC6HSBlocksSSSE3},
}};

#endif
