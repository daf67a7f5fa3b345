// What BC7's kernel (bc7-lanes.h) needs that the SSSE3 and AVX2 operations
// build alike from their own: each variant's operations V derive from
// X86Compositions<V>. The including file defines DXT1_TARGET first.
#ifndef DXT1_X86_LANES_H
#define DXT1_X86_LANES_H

#include <cstdint>

namespace {

template <class V>
struct X86Compositions {
    // The third subset's endpoint slots start at the zero lane: a zero in
    // the first table and, with the top bit flipped, the slot in the second
    // (where the other subsets' slots flip to zero lanes).
    static constexpr unsigned kThirdSubsetSlots = 0x80;
    // Whether V cuts bit fields with a byte multishift (VBMI), which gathers
    // the colour rows of all its lanes at once and cuts channel indices
    // (lane-channels.h); else rows are gathered lane by lane and indices
    // with byte shuffles and multiplies.
    static constexpr bool kMultishift = false;
    template <class Vector>
    DXT1_TARGET static Vector shuffleTwo(Vector first, Vector second, Vector indices)
    {
        return V::bitOr(V::shuffle(first, indices),
                        V::shuffle(second, V::bitXor(indices, V::splatBytes(kThirdSubsetSlots))));
    }
    // Per-word shifts by multiplying (these instruction sets have no
    // per-word shift counts): the low half of the product to the left, the
    // high half to the right.
    template <class Vector>
    DXT1_TARGET static Vector shiftLeft16(Vector v, const std::uint16_t *multipliers, const std::int16_t *)
    {
        return V::mullo(v, V::pattern(multipliers));
    }
    template <class Vector>
    DXT1_TARGET static Vector shiftRight16(Vector v, const std::uint16_t *multipliers, const std::int16_t *)
    {
        return V::mulhi(v, V::pattern(multipliers));
    }
    // (x·512 + 2^14) >> 15 is (x + 32) >> 6: one instruction where an add
    // and a shift are two (measured faster here, although it shares the
    // multiply pipe with the multiply-adds).
    template <class Vector>
    DXT1_TARGET static Vector roundShift6(Vector v) { return V::mulhiRound(v, V::splatWords(512)); }
};

} // namespace

#endif
