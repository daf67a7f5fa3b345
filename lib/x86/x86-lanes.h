// What the SSSE3 and AVX2 operations build alike from their own: the rows of
// the colour kernels, gathered from a packed palette (lanePalettes) one
// 128-bit lane at a time, and what BC7's and BC6H's kernels (bc7-lanes.h,
// bc6h-lanes.h) need. Each variant's operations V derive from
// X86Compositions<V>. The including file defines VARIANT_TARGET and includes
// <immintrin.h> first.
#ifndef X86_LANES_H
#define X86_LANES_H

#include "x86/row-shuffles.h"

#include <cstddef>
#include <cstdint>

namespace {

// One row of one block from its packed palette: 12 pixel bytes, then 4 zero
// ones (RGB), or 16 pixel bytes (RGBA).
template <unsigned PixelBytes>
VARIANT_TARGET inline __m128i row(__m128i palette, unsigned indices)
{
    return _mm_shuffle_epi8(palette, _mm_load_si128(reinterpret_cast<const __m128i *>(
                                         rowShufflesFor<PixelBytes>().pattern[indices])));
}

template <class V>
struct X86Compositions {
    // The four RGBA rows of one BC2 or BC3 block (lane-channels.h): the
    // colour row gathered from its packed palette by its index byte, its
    // alpha bytes spread from the block's alphas by `spreads`, one byte
    // shuffle a row.
    VARIANT_TARGET static void storeRgbaRows(unsigned char *const outdata[4], std::size_t emit, __m128i palette,
                                          __m128i alphas, const unsigned char *rowIndices,
                                          const unsigned char (*spreads)[16])
    {
        for (unsigned yo = 0; yo < 4; ++yo) {
            const __m128i spread = _mm_load_si128(reinterpret_cast<const __m128i *>(spreads[yo]));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(outdata[yo] + emit),
                             _mm_or_si128(row<kRgbaBytes>(palette, rowIndices[yo]), _mm_shuffle_epi8(alphas, spread)));
        }
    }
    // The third subset's endpoint slots start at the zero lane: a zero in
    // the first table and, with the top bit flipped, the slot in the second
    // (where the other subsets' slots flip to zero lanes).
    static constexpr unsigned kThirdSubsetSlots = 0x80;
    // Whether V cuts bit fields with a byte multishift (VBMI), which gathers
    // the colour rows of all its lanes at once and cuts channel indices
    // (lane-channels.h); else rows are gathered lane by lane and indices
    // with byte shuffles and multiplies.
    static constexpr bool kMultishift = false;
    // Whether V has mask registers, with which signed channel values keep
    // their sign another way (signedValues, lane-channels.h).
    static constexpr bool kMaskRegisters = false;
    // x where a > b (signed 16-bit lanes), else y; and s | x where not.
    template <class Vector>
    VARIANT_TARGET static Vector selectWhereGreater(Vector a, Vector b, Vector x, Vector y)
    {
        return V::select(V::greater(a, b), x, y);
    }
    template <class Vector>
    VARIANT_TARGET static Vector orWhereNotGreater(Vector a, Vector b, Vector s, Vector x)
    {
        return V::bitOr(s, V::andNot(V::greater(a, b), x));
    }
    template <class Vector>
    VARIANT_TARGET static Vector shuffleTwo(Vector first, Vector second, Vector indices)
    {
        return V::bitOr(V::shuffle(first, indices),
                        V::shuffle(second, V::bitXor(indices, V::splatBytes(kThirdSubsetSlots))));
    }
    // Per-word shifts by multiplying (these instruction sets have no
    // per-word shift counts): the low half of the product to the left, the
    // high half to the right.
    template <class Vector>
    VARIANT_TARGET static Vector shiftLeft16(Vector v, const std::uint16_t *multipliers, const std::int16_t *)
    {
        return V::mullo(v, V::pattern(multipliers));
    }
    template <class Vector>
    VARIANT_TARGET static Vector shiftRight16(Vector v, const std::uint16_t *multipliers, const std::int16_t *)
    {
        return V::mulhi(v, V::pattern(multipliers));
    }
    // Each word to the left or to the right (BC6H's fields): a multiplier 0 in the other direction.
    template <class Vector>
    VARIANT_TARGET static Vector shiftEitherWay16(Vector v, const std::uint16_t *leftMultipliers,
                                                const std::uint16_t *rightMultipliers, const std::int16_t *)
    {
        return V::bitOr(V::mullo(v, V::pattern(leftMultipliers)), V::mulhi(v, V::pattern(rightMultipliers)));
    }
    // (a + b) / 2 of 16-bit lanes, whose sums do not overflow them.
    template <class Vector>
    VARIANT_TARGET static Vector halvingAdd(Vector a, Vector b) { return V::halve(V::add(a, b)); }
    // (x·512 + 2^14) >> 15 is (x + 32) >> 6: one instruction where an add
    // and a shift are two (measured faster here, although it shares the
    // multiply pipe with the multiply-adds).
    template <class Vector>
    VARIANT_TARGET static Vector roundShift6(Vector v) { return V::mulhiRound(v, V::splatWords(512)); }
    // Products of signed bytes and weights (at most 64, alike read signed
    // or unsigned), each pair's two summed into a word (BC6H's high bytes):
    // the multiply-add reads its first operand unsigned, its second signed.
    template <class Vector>
    VARIANT_TARGET static Vector multiplyAddSignedBytes(Vector signedBytes, Vector weights)
    {
        return V::multiplyAddBytes(weights, signedBytes);
    }
    // m (each word below 0x8000) with its sign bit set where a < b, as
    // signed words (BC6H's signed halves).
    template <class Vector>
    VARIANT_TARGET static Vector signWhereLess(Vector m, Vector a, Vector b)
    {
        return V::bitOr(m, V::bitAnd(V::greater(b, a), V::splatWords(0x8000)));
    }
    // The high words of unsigned word products (BC6H's final scaling): x86's multiply-high.
    template <class Vector>
    VARIANT_TARGET static Vector mulhiUnsigned(Vector a, Vector b) { return V::mulhi(a, b); }
};

} // namespace

#endif
