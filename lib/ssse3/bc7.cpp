// The SSSE3 BC7 decoder: one block per register (bc7-lanes.h).
#include "bc7-decoder.h"

#ifdef DXT1_HAVE_X86_VARIANTS

#include <immintrin.h>

#include <cstdint>

#define BC7_TARGET __attribute__((target("ssse3")))

namespace {

struct Ssse3 {
    typedef __m128i Vector;
    static constexpr unsigned kLanes = 1;

    BC7_TARGET static Vector load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
    BC7_TARGET static Vector pattern(const void *p) { return load(p); }
    BC7_TARGET static Vector perLane(const void *first, const void *) { return load(first); }
    BC7_TARGET static Vector blocks(const unsigned char *first, const unsigned char *) { return load(first); }
    BC7_TARGET static Vector fromIntegers(std::uint64_t first, std::uint64_t)
    {
        return _mm_set_epi64x(0, static_cast<long long>(first));
    }
    BC7_TARGET static Vector zero() { return _mm_setzero_si128(); }
    BC7_TARGET static Vector splatBytes(unsigned char value) { return _mm_set1_epi8(static_cast<char>(value)); }
    BC7_TARGET static Vector shuffle(Vector table, Vector indices) { return _mm_shuffle_epi8(table, indices); }
    BC7_TARGET static Vector bitAnd(Vector a, Vector b) { return _mm_and_si128(a, b); }
    BC7_TARGET static Vector bitOr(Vector a, Vector b) { return _mm_or_si128(a, b); }
    BC7_TARGET static Vector bitXor(Vector a, Vector b) { return _mm_xor_si128(a, b); }
    // The third subset's endpoint slots start at the zero lane: a zero in
    // the first table and, with the top bit flipped, the slot in the second
    // (where the other subsets' slots flip to zero lanes).
    static constexpr unsigned kThirdSubsetSlots = 0x80;
    BC7_TARGET static Vector shuffleTwo(Vector first, Vector second, Vector indices)
    {
        return bitOr(shuffle(first, indices), shuffle(second, bitXor(indices, splatBytes(kThirdSubsetSlots))));
    }
    BC7_TARGET static Vector subtractBytes(Vector a, Vector b) { return _mm_sub_epi8(a, b); }
    // Per-word shifts by multiplying: low half of the product to the left, high half to the right.
    BC7_TARGET static Vector shiftLeft16(Vector v, const std::uint16_t *multipliers, const std::int16_t *)
    {
        return _mm_mullo_epi16(v, load(multipliers));
    }
    BC7_TARGET static Vector shiftRight16(Vector v, const std::uint16_t *multipliers, const std::int16_t *)
    {
        return _mm_mulhi_epu16(v, load(multipliers));
    }
    template <int count>
    BC7_TARGET static Vector shiftRight16By(Vector v)
    {
        return _mm_srli_epi16(v, count);
    }
    BC7_TARGET static Vector packWords(Vector a, Vector b) { return _mm_packus_epi16(a, b); }
    BC7_TARGET static Vector interleaveLowBytes(Vector a, Vector b) { return _mm_unpacklo_epi8(a, b); }
    BC7_TARGET static Vector interleaveHighBytes(Vector a, Vector b) { return _mm_unpackhi_epi8(a, b); }
    BC7_TARGET static Vector interleaveLowHalves(Vector a, Vector b) { return _mm_unpacklo_epi64(a, b); }
    BC7_TARGET static Vector interleaveHighHalves(Vector a, Vector b) { return _mm_unpackhi_epi64(a, b); }
    BC7_TARGET static Vector multiplyAddPairs(Vector unsignedBytes, Vector signedBytes)
    {
        return _mm_maddubs_epi16(unsignedBytes, signedBytes);
    }
    // (x·512 + 2^14) >> 15 is (x + 32) >> 6: one instruction where an add
    // and a shift are two (measured faster here, although it shares the
    // multiply pipe with the multiply-adds).
    BC7_TARGET static Vector roundShift6(Vector v) { return _mm_mulhrs_epi16(v, _mm_set1_epi16(512)); }
    BC7_TARGET static void storeLanes(Vector v, unsigned char *first, unsigned char *)
    {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(first), v);
    }
};

} // namespace

#include "bc7-lanes.h"

BC7_TARGET void decodeBC7BlocksSSSE3(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    bc7::decodeBlocks<Ssse3>(data, len, outdata);
}

#endif
