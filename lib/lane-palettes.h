// The palette of one block per 128-bit lane, written once for every register
// width. `V` names a vector type and the few operations the routine needs;
// every operation works within each 128-bit lane, so the SSSE3 decoder
// (V = one lane), the AVX2 decoder (V = two lanes) and the AVX-512 one (V =
// four lanes) run the same steps. Its thirds and half under each colour
// rule are steps of their own (paletteThirds, paletteHalf), which the NEON
// kernel runs too, on its own layout (sixteen blocks a register).
// Architecture-neutral: the intrinsics are V's; how rows are taken from the
// packed palette is the variant's (x86/x86-lanes.h).
//
// Its constants are read from a table that V::opaque hands it, so that a V
// may choose how they are loaded.
//
// The including file compiles the routine for its own instruction set: it
// defines VARIANT_TARGET (a target attribute) before including this header,
// which is why everything here is local to that file.
#ifndef LANE_PALETTES_H
#define LANE_PALETTES_H

#ifndef VARIANT_TARGET
#error "define VARIANT_TARGET before including lane-palettes.h"
#endif

#include "palette-layout.h"

namespace {
namespace lane {

// A constant of one 128-bit lane, stored once for each lane of the widest
// vector, so that a vector of any width can load it whole.
constexpr unsigned kStoredLanes = 4;
template <class T>
struct Pattern {
    static constexpr unsigned kPerLane = 16 / sizeof(T);
    alignas(16 * kStoredLanes) T v[kStoredLanes * kPerLane];
};

template <class T, class... Values>
constexpr Pattern<T> everyLane(Values... values)
{
    static_assert(sizeof...(Values) == Pattern<T>::kPerLane, "a pattern fills one lane");
    const T lane[] = {static_cast<T>(values)...};
    Pattern<T> p{};
    for (unsigned i = 0; i < kStoredLanes * Pattern<T>::kPerLane; ++i)
        p.v[i] = lane[i % Pattern<T>::kPerLane];
    return p;
}

template <class T>
constexpr Pattern<T> filled(T value)
{
    Pattern<T> p{};
    for (T &element : p.v)
        element = value;
    return p;
}

// Per 128-bit lane, in the layout of palette-layout.h.
struct PaletteConstants {
    Pattern<short> fieldMask, high, low, oneThird;
    Pattern<short> highCopied, oneThirdRounded; // the gpu rule's: widening by bit copies, rounded thirds
    Pattern<short> firstEndpoint;
    Pattern<short> opaque; // the alpha lane of the RGBA layout (kPackedAlphaOffset)
    // Byte shuffles: 16-bit lanes 0-2 and 3-5 trade places; lane 0 everywhere.
    Pattern<signed char> swapEndpoints, spreadLaneZero;
};
constexpr PaletteConstants palette = {
    everyLane<short>(kRedMask, kGreenMask, kBlueMask, kRedMask, kGreenMask, kBlueMask, 0, 0),
    everyLane<short>(kRedHigh, kGreenHigh, 0, kRedHigh, kGreenHigh, 0, 0, 0),
    everyLane<short>(0, 0, kBlueLow, 0, 0, kBlueLow, 0, 0),
    filled<short>(kOneThird),
    everyLane<short>(kRedHighCopied, kGreenHighCopied, kBlueHighCopied, kRedHighCopied, kGreenHighCopied,
                     kBlueHighCopied, 0, 0),
    filled<short>(kOneThirdRounded),
    everyLane<short>(-1, -1, -1, 0, 0, 0, 0, 0),
    everyLane<short>(0, 0, 0, 0, 0, 0, 255, 0),
    everyLane<signed char>(6, 7, 8, 9, 10, 11, 0, 1, 2, 3, 4, 5, -1, -1, -1, -1),
    everyLane<signed char>(0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1),
};

} // namespace lane

// The palette's arithmetic under each colour rule, over V's operations on
// the layout its caller holds: lanePalettes below (16-bit lanes, a block's
// c0 and c1 in one register, with a copy of them swapped), and NEON's
// kernel (neon/neon-decoders.cpp: one register per component and endpoint,
// one block per byte lane, its sums in 16-bit lanes).

// Colours 2 and 3 of the four-colour mode from their 16-bit sums, 2·e0 + e1
// and e0 + 2·e1 (at most 765): divided by 3, truncated (design) or rounded
// to nearest (gpu: (x + 1) / 3), a multiply-high by kOneThird or a rounding
// one by kOneThirdRounded (palette-layout.h proves both exact).
template <class V, ColourRule Rule>
VARIANT_TARGET inline typename V::Vector paletteThirds(typename V::Vector sums, const lane::PaletteConstants &c)
{
    return Rule == ColourRule::gpu ? V::mulhiRound(sums, V::lanes(c.oneThirdRounded.v))
                                   : V::mulhi(sums, V::lanes(c.oneThird.v));
}

// Colour 2 of the three-colour mode, (e0 + e1) / 2: truncated (design) or
// rounded (gpu: (e0 + e1 + 1) / 2).
template <class V, ColourRule Rule>
VARIANT_TARGET inline typename V::Vector paletteHalf(typename V::Vector e0, typename V::Vector e1)
{
    return Rule == ColourRule::gpu ? V::average(e0, e1) : V::halvingAdd(e0, e1);
}

// The packed palettes (kPackedColourOffset, and for RGBA kPackedAlphaOffset)
// of the blocks whose raw endpoints are in `raw`: per 128-bit lane, 16-bit
// lanes 0-2 hold c0 and 3-5 hold c1.
//
// Rule: the design rule widens by shifts and truncates; the gpu rule widens
// by bit copies (the same multiplies with other multipliers) and rounds: its
// thirds are a rounding multiply-high, its half an average. Either costs the
// same instructions.
// FourColourAlways (BC2, BC3): no three-colour mode, and alpha left 0, for
// the block's own alphas to be merged in; PixelBytes is then kRgbaBytes.
template <class V, unsigned PixelBytes, ColourRule Rule = ColourRule::design, bool FourColourAlways = false>
VARIANT_TARGET inline typename V::Vector lanePalettes(typename V::Vector raw)
{
    static_assert(!FourColourAlways || PixelBytes == kRgbaBytes, "always four-colour blocks are RGBA");
    typedef typename V::Vector Vector;
    const lane::PaletteConstants &c = V::opaque(lane::palette);
    constexpr bool gpu = Rule == ColourRule::gpu;
    const Vector fields = V::bitAnd(raw, V::lanes(c.fieldMask.v));
    const Vector e = V::bitOr(V::mulhi(fields, V::lanes(gpu ? c.highCopied.v : c.high.v)),
                              V::mullo(fields, V::lanes(c.low.v)));
    const Vector swapped = V::shuffle(e, V::lanes(c.swapEndpoints.v)); // r1 g1 b1 r0 g0 b0

    // Four-colour mode: (2·e0 + e1) / 3 in lanes 0-2, (e0 + 2·e1) / 3 in lanes 3-5
    // (gpu: (2·e0 + e1 + 1) / 3 and (e0 + 2·e1 + 1) / 3).
    const Vector thirds = paletteThirds<V, Rule>(V::add(V::add(e, e), swapped), c);
    if (FourColourAlways)
        return V::pack(e, thirds);
    // Three-colour mode: the half in lanes 0-2, black in lanes 3-5.
    const Vector half = V::bitAnd(paletteHalf<V, Rule>(e, swapped), V::lanes(c.firstEndpoint.v));

    // c0 <= c1 (unsigned) exactly when c0 - c1 saturates to zero.
    const Vector difference = V::subtractSaturated(raw, V::shuffle(raw, V::lanes(c.swapEndpoints.v)));
    const Vector threeColour = V::isZero(V::shuffle(difference, V::lanes(c.spreadLaneZero.v)));
    if (PixelBytes == kRgbaBytes) {
        // Alpha: colours 0 to 2 opaque; colour 3 opaque in the four-colour
        // mode (thirds, lane 6 zero until now), transparent in the three-colour one.
        const Vector opaque = V::lanes(c.opaque.v);
        return V::pack(V::bitOr(e, opaque), V::select(threeColour, half, V::bitOr(thirds, opaque)));
    }
    return V::pack(e, V::select(threeColour, half, thirds));
}

} // namespace

#endif
