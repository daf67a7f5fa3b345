// The AVX2 variant's vector operations, for its kernels of every format.
#ifndef AVX2_LANES_H
#define AVX2_LANES_H

#include <immintrin.h>

#include <cstdint>

// A variant with more than AVX2 may take these operations at its own
// target by defining VARIANT_TARGET first (AVX-512's BC6H decoder: the same
// instructions, encoded to reach its 32 registers).
#ifndef VARIANT_TARGET
#define VARIANT_TARGET __attribute__((target("avx2")))
#endif

#include "x86/x86-lanes.h"

namespace {

// Two 128-bit lanes: the operations the lane kernels (lane-palettes.h,
// lane-channels.h) and BC7's (bc7-lanes.h) need.
struct Avx2 : X86Compositions<Avx2> {
    typedef __m256i Vector;
    static constexpr unsigned kLanes = 2;
    VARIANT_TARGET static Vector lanes(const void *pattern)
    {
        return _mm256_broadcastsi128_si256(_mm_load_si128(static_cast<const __m128i *>(pattern)));
    }
    // A table of constants as it is, its values seen by the compiler.
    template <class T>
    VARIANT_TARGET static const T &opaque(const T &table) { return table; }
    // A constant of every lane, stored for each (lane-palettes.h).
    VARIANT_TARGET static Vector wholeLanes(const void *pattern) { return _mm256_load_si256(static_cast<const __m256i *>(pattern)); }
    VARIANT_TARGET static Vector load(const unsigned char *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
    VARIANT_TARGET static __m128i lane(Vector a, unsigned l)
    {
        return l == 0 ? _mm256_castsi256_si128(a) : _mm256_extracti128_si256(a, 1);
    }
    VARIANT_TARGET static Vector zero() { return _mm256_setzero_si256(); }
    VARIANT_TARGET static Vector bitAnd(Vector a, Vector b) { return _mm256_and_si256(a, b); }
    VARIANT_TARGET static Vector bitOr(Vector a, Vector b) { return _mm256_or_si256(a, b); }
    VARIANT_TARGET static Vector bitXor(Vector a, Vector b) { return _mm256_xor_si256(a, b); }
    VARIANT_TARGET static Vector andNot(Vector mask, Vector b) { return _mm256_andnot_si256(mask, b); }
    VARIANT_TARGET static Vector add(Vector a, Vector b) { return _mm256_add_epi16(a, b); }
    VARIANT_TARGET static Vector halve(Vector a) { return _mm256_srli_epi16(a, 1); }
    VARIANT_TARGET static Vector average(Vector a, Vector b) { return _mm256_avg_epu16(a, b); }
    template <int Bits>
    VARIANT_TARGET static Vector shiftRightWords(Vector a) { return _mm256_srli_epi16(a, Bits); }
    template <int Bits>
    VARIANT_TARGET static Vector shiftRightQuads(Vector a) { return _mm256_srli_epi64(a, Bits); }
    VARIANT_TARGET static Vector mulhi(Vector a, Vector b) { return _mm256_mulhi_epu16(a, b); }
    VARIANT_TARGET static Vector mulhiRound(Vector a, Vector b) { return _mm256_mulhrs_epi16(a, b); }
    VARIANT_TARGET static Vector mullo(Vector a, Vector b) { return _mm256_mullo_epi16(a, b); }
    VARIANT_TARGET static Vector multiplyAddBytes(Vector a, Vector b) { return _mm256_maddubs_epi16(a, b); }
    VARIANT_TARGET static Vector subtractSaturated(Vector a, Vector b) { return _mm256_subs_epu16(a, b); }
    VARIANT_TARGET static Vector absolute(Vector a) { return _mm256_abs_epi16(a); }
    VARIANT_TARGET static Vector signOf(Vector a, Vector sign) { return _mm256_sign_epi16(a, sign); }
    VARIANT_TARGET static Vector addBytes(Vector a, Vector b) { return _mm256_add_epi8(a, b); }
    VARIANT_TARGET static Vector packSigned(Vector a, Vector b) { return _mm256_packs_epi16(a, b); }
    // Signed bytes raised to `lowest` where below it.
    VARIANT_TARGET static Vector atLeast(Vector a, Vector lowest) { return _mm256_max_epi8(a, lowest); }
    VARIANT_TARGET static Vector subtractBytes(Vector a, Vector b) { return _mm256_sub_epi8(a, b); }
    VARIANT_TARGET static Vector isZero(Vector a) { return _mm256_cmpeq_epi16(a, _mm256_setzero_si256()); }
    template <std::uint16_t LaneBytes>
    VARIANT_TARGET static bool anyHighBit(Vector a)
    {
        return (static_cast<unsigned>(_mm256_movemask_epi8(a)) & (LaneBytes * 0x10001u)) != 0;
    }
    VARIANT_TARGET static Vector greater(Vector a, Vector b) { return _mm256_cmpgt_epi16(a, b); }
    VARIANT_TARGET static Vector greaterBytes(Vector a, Vector b) { return _mm256_cmpgt_epi8(a, b); }
    VARIANT_TARGET static Vector shuffle(Vector a, Vector pattern) { return _mm256_shuffle_epi8(a, pattern); }
    VARIANT_TARGET static Vector pack(Vector a, Vector b) { return _mm256_packus_epi16(a, b); }
    VARIANT_TARGET static Vector unpackLow64(Vector a, Vector b) { return _mm256_unpacklo_epi64(a, b); }
    VARIANT_TARGET static Vector select(Vector mask, Vector a, Vector b) { return _mm256_blendv_epi8(b, a, mask); }
    // Bytes 0-7 of each lane to `first`, 8-15 of each to `second`.
    VARIANT_TARGET static void storeRowHalves(unsigned char *first, unsigned char *second, Vector a)
    {
        const __m256i rows = _mm256_permute4x64_epi64(a, _MM_SHUFFLE(3, 1, 2, 0));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(first), _mm256_castsi256_si128(rows));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(second), _mm256_extracti128_si256(rows, 1));
    }
    // What BC7's kernel adds (bc7-lanes.h).
    // A 16-byte pattern at any address, in both lanes.
    VARIANT_TARGET static Vector pattern(const void *p) { return _mm256_broadcastsi128_si256(loadLane(p)); }
    VARIANT_TARGET static Vector perLane(const void *const patterns[kLanes])
    {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(loadLane(patterns[0])), loadLane(patterns[1]), 1);
    }
    VARIANT_TARGET static Vector blocks(const unsigned char *const blocks[kLanes])
    {
        return _mm256_inserti128_si256(_mm256_castsi128_si256(loadLane(blocks[0])), loadLane(blocks[1]), 1);
    }
    VARIANT_TARGET static Vector fromIntegers(const std::uint64_t integers[kLanes])
    {
        return _mm256_set_epi64x(0, static_cast<long long>(integers[1]), 0, static_cast<long long>(integers[0]));
    }
    VARIANT_TARGET static Vector splatWords(std::uint16_t value) { return _mm256_set1_epi16(static_cast<short>(value)); }
    VARIANT_TARGET static Vector splatBytes(unsigned char value) { return _mm256_set1_epi8(static_cast<char>(value)); }
    VARIANT_TARGET static Vector interleaveLowBytes(Vector a, Vector b) { return _mm256_unpacklo_epi8(a, b); }
    VARIANT_TARGET static Vector interleaveHighBytes(Vector a, Vector b) { return _mm256_unpackhi_epi8(a, b); }
    VARIANT_TARGET static Vector unpackHigh64(Vector a, Vector b) { return _mm256_unpackhi_epi64(a, b); }
    // A lane without a block of its own repeats its neighbour's, so two equal
    // stores to one place are harmless.
    VARIANT_TARGET static void storeLanes(Vector v, unsigned char *const at[kLanes])
    {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(at[0]), _mm256_castsi256_si128(v));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(at[1]), _mm256_extracti128_si256(v, 1));
    }

    // What BC6H's kernel adds (bc6h-lanes.h).
    template <int Bits>
    VARIANT_TARGET static Vector shiftLeftWords(Vector a) { return _mm256_slli_epi16(a, Bits); }
    // Each lane's 16 bytes of `low` and first 8 of `high`, a row of 24 bytes.
    VARIANT_TARGET static void storeRows24(Vector low, Vector high, unsigned char *const at[kLanes])
    {
        _mm_storeu_si128(reinterpret_cast<__m128i *>(at[0]), _mm256_castsi256_si128(low));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(at[0] + 16), _mm256_castsi256_si128(high));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(at[1]), _mm256_extracti128_si256(low, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(at[1] + 16), _mm256_extracti128_si256(high, 1));
    }
private:
    VARIANT_TARGET static __m128i loadLane(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
};

} // namespace

#endif
