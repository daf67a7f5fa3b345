// The SSSE3 variant's vector operations, for its kernels of every format.
#ifndef SSSE3_LANES_H
#define SSSE3_LANES_H

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#define VARIANT_TARGET __attribute__((target("ssse3")))

#include "x86/x86-lanes.h"

namespace {

// One 128-bit lane: the operations the lane kernels (lane-palettes.h,
// lane-channels.h) and BC7's (bc7-lanes.h) need.
struct Ssse3 : X86Compositions<Ssse3> {
    typedef __m128i Vector;
    static constexpr unsigned kLanes = 1;
    VARIANT_TARGET static Vector lanes(const void *pattern) { return _mm_load_si128(static_cast<const __m128i *>(pattern)); }
    // A table of constants as it is, its values seen by the compiler.
    template <class T>
    VARIANT_TARGET static const T &opaque(const T &table) { return table; }
    // A constant of every lane, stored for each (lane-palettes.h).
    VARIANT_TARGET static Vector wholeLanes(const void *pattern) { return _mm_load_si128(static_cast<const __m128i *>(pattern)); }
    VARIANT_TARGET static Vector load(const unsigned char *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
    VARIANT_TARGET static __m128i lane(Vector a, unsigned) { return a; }
    VARIANT_TARGET static Vector zero() { return _mm_setzero_si128(); }
    VARIANT_TARGET static Vector bitAnd(Vector a, Vector b) { return _mm_and_si128(a, b); }
    VARIANT_TARGET static Vector bitOr(Vector a, Vector b) { return _mm_or_si128(a, b); }
    VARIANT_TARGET static Vector bitXor(Vector a, Vector b) { return _mm_xor_si128(a, b); }
    VARIANT_TARGET static Vector andNot(Vector mask, Vector b) { return _mm_andnot_si128(mask, b); }
    VARIANT_TARGET static Vector add(Vector a, Vector b) { return _mm_add_epi16(a, b); }
    VARIANT_TARGET static Vector halve(Vector a) { return _mm_srli_epi16(a, 1); }
    VARIANT_TARGET static Vector average(Vector a, Vector b) { return _mm_avg_epu16(a, b); }
    template <int Bits>
    VARIANT_TARGET static Vector shiftRightWords(Vector a) { return _mm_srli_epi16(a, Bits); }
    template <int Bits>
    VARIANT_TARGET static Vector shiftRightQuads(Vector a) { return _mm_srli_epi64(a, Bits); }
    VARIANT_TARGET static Vector mulhi(Vector a, Vector b) { return _mm_mulhi_epu16(a, b); }
    VARIANT_TARGET static Vector mulhiRound(Vector a, Vector b) { return _mm_mulhrs_epi16(a, b); }
    VARIANT_TARGET static Vector mullo(Vector a, Vector b) { return _mm_mullo_epi16(a, b); }
    VARIANT_TARGET static Vector multiplyAddBytes(Vector a, Vector b) { return _mm_maddubs_epi16(a, b); }
    VARIANT_TARGET static Vector subtractSaturated(Vector a, Vector b) { return _mm_subs_epu16(a, b); }
    VARIANT_TARGET static Vector absolute(Vector a) { return _mm_abs_epi16(a); }
    VARIANT_TARGET static Vector signOf(Vector a, Vector sign) { return _mm_sign_epi16(a, sign); }
    VARIANT_TARGET static Vector addBytes(Vector a, Vector b) { return _mm_add_epi8(a, b); }
    VARIANT_TARGET static Vector packSigned(Vector a, Vector b) { return _mm_packs_epi16(a, b); }
    // Signed bytes raised to `lowest` where below it.
    VARIANT_TARGET static Vector atLeast(Vector a, Vector lowest) { return _mm_sub_epi8(a, _mm_cmpgt_epi8(lowest, a)); }
    VARIANT_TARGET static Vector subtractBytes(Vector a, Vector b) { return _mm_sub_epi8(a, b); }
    VARIANT_TARGET static Vector isZero(Vector a) { return _mm_cmpeq_epi16(a, _mm_setzero_si128()); }
    // Whether any lane's byte b has its high bit set, for the bits b set in LaneBytes.
    template <std::uint16_t LaneBytes>
    VARIANT_TARGET static bool anyHighBit(Vector a)
    {
        return (static_cast<unsigned>(_mm_movemask_epi8(a)) & LaneBytes) != 0;
    }
    VARIANT_TARGET static Vector greater(Vector a, Vector b) { return _mm_cmpgt_epi16(a, b); }
    VARIANT_TARGET static Vector greaterBytes(Vector a, Vector b) { return _mm_cmpgt_epi8(a, b); }
    VARIANT_TARGET static Vector shuffle(Vector a, Vector pattern) { return _mm_shuffle_epi8(a, pattern); }
    VARIANT_TARGET static Vector pack(Vector a, Vector b) { return _mm_packus_epi16(a, b); }
    VARIANT_TARGET static Vector unpackLow64(Vector a, Vector b) { return _mm_unpacklo_epi64(a, b); }
    VARIANT_TARGET static Vector select(Vector mask, Vector a, Vector b)
    {
        return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
    }
    // Bytes 0-7 to `first`, 8-15 to `second`.
    VARIANT_TARGET static void storeRowHalves(unsigned char *first, unsigned char *second, Vector a)
    {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(first), a);
        // Through memcpy, which assumes no alignment: one store of the high half.
        const long long high = reinterpret_cast<__v2di>(a)[1];
        std::memcpy(second, &high, sizeof high);
    }
    // What BC7's kernel adds (bc7-lanes.h).
    // A 16-byte pattern at any address.
    VARIANT_TARGET static Vector pattern(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
    VARIANT_TARGET static Vector perLane(const void *const patterns[kLanes]) { return pattern(patterns[0]); }
    VARIANT_TARGET static Vector blocks(const unsigned char *const blocks[kLanes]) { return pattern(blocks[0]); }
    VARIANT_TARGET static Vector fromIntegers(const std::uint64_t integers[kLanes])
    {
        return _mm_set_epi64x(0, static_cast<long long>(integers[0]));
    }
    VARIANT_TARGET static Vector splatWords(std::uint16_t value) { return _mm_set1_epi16(static_cast<short>(value)); }
    VARIANT_TARGET static Vector splatBytes(unsigned char value) { return _mm_set1_epi8(static_cast<char>(value)); }
    VARIANT_TARGET static Vector interleaveLowBytes(Vector a, Vector b) { return _mm_unpacklo_epi8(a, b); }
    VARIANT_TARGET static Vector interleaveHighBytes(Vector a, Vector b) { return _mm_unpackhi_epi8(a, b); }
    VARIANT_TARGET static Vector unpackHigh64(Vector a, Vector b) { return _mm_unpackhi_epi64(a, b); }
    VARIANT_TARGET static void storeLanes(Vector v, unsigned char *const at[kLanes])
    {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(at[0]), v);
    }
    // What BC6H's kernel adds (bc6h-lanes.h).
    template <int Bits>
    VARIANT_TARGET static Vector shiftLeftWords(Vector a) { return _mm_slli_epi16(a, Bits); }
    // Each lane's 16 bytes of `low` and first 8 of `high`, a row of 24 bytes.
    VARIANT_TARGET static void storeRows24(Vector low, Vector high, unsigned char *const at[kLanes])
    {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(at[0]), low);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(at[0] + 16), high);
    }
};

} // namespace

#endif
