// The AVX2 variant's table, and its kernels of BC1 to BC5: two blocks per
// register, one in each 128-bit lane. The palettes are built as in the SSSE3 decoder (lane-palettes.h); each row
// of a block is one byte shuffle and one 16-byte store, which for RGB the next
// block overlaps. One kernel writes RGB and RGBA, its pixel size a template
// parameter, under either colour rule, a template parameter of the palette
// alone. BC2 to BC5 run lane-channels.h's kernels with two 128-bit lanes a
// register: BC2 two blocks at a time, BC3 and BC4 four, BC5 two.
#include "bc6h-decoder.h"
#include "bc7-decoder.h"
#include "decoder-variants.h"

#ifdef HAVE_X86_VARIANTS

#include "avx2-lanes.h"

#include "lane-channels.h"

#include <cstdint>

namespace {

// The plane lines 1.5 KB (128 blocks) ahead are asked for before they are
// stored to, which cut the time spent waiting for them on a 4096 × 4096
// surface by about a third; the distance was chosen by measuring there.
constexpr std::uintptr_t kPrefetchDistance = 1536;

VARIANT_TARGET inline void prefetchAhead(const unsigned char *out)
{
    // An integer, not a pointer, since the address may lie past the plane.
    _mm_prefetch(reinterpret_cast<const char *>(reinterpret_cast<std::uintptr_t>(out) + kPrefetchDistance), _MM_HINT_T0);
}

// The palettes of the blocks at `pair` (one or two): the first block's in the
// low lane, the second's in the high one. Both lanes hold the same 16 input
// bytes, so the high lane takes its endpoints from bytes 8-11.
template <unsigned PixelBytes, ColourRule Rule>
VARIANT_TARGET inline __m256i pairPalettes(__m128i pair)
{
    const __m256i spreadEndpoints = _mm256_setr_epi8(
        0, 1, 0, 1, 0, 1, 2, 3, 2, 3, 2, 3, -1, -1, -1, -1,
        8, 9, 8, 9, 8, 9, 10, 11, 10, 11, 10, 11, -1, -1, -1, -1);
    return lanePalettes<Avx2, PixelBytes, Rule>(_mm256_shuffle_epi8(_mm256_broadcastsi128_si256(pair), spreadEndpoints));
}

// One row of a pair: the first block's pixels at `out`, the second's after them.
// 128-bit shuffles leave more ports free than 256-bit ones with a lane insert.
template <unsigned PixelBytes>
VARIANT_TARGET inline void storePairRow(unsigned char *out, __m128i first, __m128i second, const unsigned char *indices)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), row<PixelBytes>(first, indices[0]));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4 * PixelBytes), row<PixelBytes>(second, indices[8]));
}

// Two blocks: each row stores 16 bytes per block; for RGB the spare 4 bytes
// are overwritten by the block that follows.
template <unsigned PixelBytes, ColourRule Rule>
VARIANT_TARGET inline void colourGroup(const unsigned char *pair, unsigned char *const outdata[4], std::size_t emit)
{
    for (unsigned yo = 0; yo < 4; ++yo)
        prefetchAhead(outdata[yo] + emit);
    const __m256i palettes = pairPalettes<PixelBytes, Rule>(_mm_loadu_si128(reinterpret_cast<const __m128i *>(pair)));
    const __m128i first = _mm256_castsi256_si128(palettes), second = _mm256_extracti128_si256(palettes, 1);
    for (unsigned yo = 0; yo < 4; ++yo)
        storePairRow<PixelBytes>(outdata[yo] + emit, first, second, pair + 4 + yo);
}

template <unsigned PixelBytes, ColourRule Rule>
VARIANT_TARGET void decodeBlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    eachGroup<PixelBytes == kRgbaBytes ? BlockFormat::bc1a : BlockFormat::bc1, 2, colourGroup<PixelBytes, Rule>,
              16 - 4 * PixelBytes>(data, len, outdata);
}

constexpr ColourRule design = ColourRule::design, gpu = ColourRule::gpu;

} // namespace

const DecoderTable avx2Decoders = {{
    /* bc1  */ {decodeBlocks<kRgbBytes, design>, decodeBlocks<kRgbBytes, gpu>},
    /* bc1a */ {decodeBlocks<kRgbaBytes, design>, decodeBlocks<kRgbaBytes, gpu>},
    /* bc2  */ {decodeBC2<Avx2, design>, decodeBC2<Avx2, gpu>},
    /* bc3  */ {decodeBC3<Avx2, design>, decodeBC3<Avx2, gpu>},
    /* bc4  */ {decodeBC4<Avx2, design, false>, decodeBC4<Avx2, gpu, false>},
    /* bc4s */ {decodeBC4<Avx2, design, true>, decodeBC4<Avx2, gpu, true>},
    /* bc5  */ {decodeBC5<Avx2, design, false>, decodeBC5<Avx2, gpu, false>},
    /* bc5s */ {decodeBC5<Avx2, design, true>, decodeBC5<Avx2, gpu, true>},
    /* bc7  */ {decodeBC7BlocksAVX2, decodeBC7BlocksAVX2},
    /* bc6h */ {decodeBC6HBlocksAVX2, decodeBC6HBlocksAVX2},
    /* bc6hs */ {decodeBC6HSBlocksAVX2, decodeBC6HSBlocksAVX2},
}};

#endif
