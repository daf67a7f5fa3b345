// The palette of one block per 128-bit lane, written once for every register
// width. `V` names a vector type and the few operations the routine needs;
// every operation works within each 128-bit lane, so the SSSE3 decoder
// (V = one lane) and the AVX2 decoder (V = two lanes) run the same steps.
// Rows are taken from a packed palette one 128-bit lane at a time.
//
// The including file compiles the routine for its own instruction set: it
// defines DXT1_TARGET (a target attribute) before including this header,
// which is why everything here is local to that file.
#ifndef DXT1_LANE_PALETTES_H
#define DXT1_LANE_PALETTES_H

#ifndef DXT1_TARGET
#error "define DXT1_TARGET before including lane-palettes.h"
#endif

#include <cstring>

#include "palette-layout.h"

namespace {
namespace lane {

// Per 128-bit lane, in the layout of palette-layout.h.
alignas(16) constexpr short fieldMask[8] = {kRedMask, kGreenMask, kBlueMask, kRedMask, kGreenMask, kBlueMask, 0, 0};
alignas(16) constexpr short high[8] = {kRedHigh, kGreenHigh, 0, kRedHigh, kGreenHigh, 0, 0, 0};
alignas(16) constexpr short low[8] = {0, 0, kBlueLow, 0, 0, kBlueLow, 0, 0};
alignas(16) constexpr short oneThird[8] = {kOneThird, kOneThird, kOneThird, kOneThird,
                                           kOneThird, kOneThird, kOneThird, kOneThird};
alignas(16) constexpr short firstEndpoint[8] = {-1, -1, -1, 0, 0, 0, 0, 0};
// The alpha lane of the RGBA layout (kPackedAlphaOffset).
alignas(16) constexpr short opaque[8] = {0, 0, 0, 0, 0, 0, 255, 0};
// Byte shuffles: 16-bit lanes 0-2 and 3-5 trade places; lane 0 everywhere.
alignas(16) constexpr signed char swapEndpoints[16] = {6, 7, 8, 9, 10, 11, 0, 1, 2, 3, 4, 5, -1, -1, -1, -1};
alignas(16) constexpr signed char spreadLaneZero[16] = {0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};

} // namespace lane

// The packed palettes (kPackedColourOffset, and for RGBA kPackedAlphaOffset)
// of the blocks whose raw endpoints are in `raw`: per 128-bit lane, 16-bit
// lanes 0-2 hold c0 and 3-5 hold c1.
template <class V, unsigned PixelBytes>
DXT1_TARGET inline typename V::Vector lanePalettes(typename V::Vector raw)
{
    typedef typename V::Vector Vector;
    const Vector fields = V::bitAnd(raw, V::lanes(lane::fieldMask));
    const Vector e = V::bitOr(V::mulhi(fields, V::lanes(lane::high)), V::mullo(fields, V::lanes(lane::low)));
    const Vector swapped = V::shuffle(e, V::lanes(lane::swapEndpoints)); // r1 g1 b1 r0 g0 b0

    // Four-colour mode: (2·e0 + e1) / 3 in lanes 0-2, (e0 + 2·e1) / 3 in lanes 3-5.
    const Vector thirds = V::mulhi(V::add(V::add(e, e), swapped), V::lanes(lane::oneThird));
    // Three-colour mode: (e0 + e1) >> 1 in lanes 0-2, black in lanes 3-5.
    const Vector half = V::bitAnd(V::halve(V::add(e, swapped)), V::lanes(lane::firstEndpoint));

    // c0 <= c1 (unsigned) exactly when c0 - c1 saturates to zero.
    const Vector difference = V::subtractSaturated(raw, V::shuffle(raw, V::lanes(lane::swapEndpoints)));
    const Vector threeColour = V::isZero(V::shuffle(difference, V::lanes(lane::spreadLaneZero)));
    if (PixelBytes == kRgbaBytes) {
        // Alpha: colours 0 to 2 opaque; colour 3 opaque in the four-colour
        // mode (thirds, lane 6 zero until now), transparent in the three-colour one.
        const Vector opaque = V::lanes(lane::opaque);
        return V::pack(V::bitOr(e, opaque), V::select(threeColour, half, V::bitOr(thirds, opaque)));
    }
    return V::pack(e, V::select(threeColour, half, thirds));
}

// One row of one block from its packed palette: 12 pixel bytes, then 4 zero
// ones (RGB), or 16 pixel bytes (RGBA).
template <unsigned PixelBytes>
DXT1_TARGET inline __m128i row(__m128i palette, unsigned indices)
{
    return _mm_shuffle_epi8(palette, _mm_load_si128(reinterpret_cast<const __m128i *>(
                                         dxt1RowShufflesFor<PixelBytes>().pattern[indices])));
}

// The 12 pixel bytes of a row, storing nothing past them.
DXT1_TARGET inline void storeTwelve(unsigned char *out, __m128i pixels)
{
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), pixels);
    const int last = _mm_cvtsi128_si32(_mm_srli_si128(pixels, 8));
    std::memcpy(out + 8, &last, 4);
}

// A row of the last block: its pixel bytes alone, for RGBA all 16.
template <unsigned PixelBytes>
DXT1_TARGET inline void storeLastRow(unsigned char *out, __m128i pixels)
{
    if (PixelBytes == kRgbaBytes)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), pixels);
    else
        storeTwelve(out, pixels);
}

} // namespace

#endif
