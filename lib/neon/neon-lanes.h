// The NEON variant's vector operations, for its lane kernels of BC7
// (bc7-lanes.h) and BC6H (bc6h-lanes.h), and for the palette steps its BC1
// to BC5 kernels share (lane-palettes.h, lane-channels.h). Table lookups give 0 for any index
// past the table, as the x86 shuffles do for indices with the top bit set,
// and shifts take a vector of per-word counts.
#ifndef NEON_LANES_H
#define NEON_LANES_H

#include <arm_neon.h>

#include <cstdint>

// No target attribute: Advanced SIMD is part of every AArch64 CPU.
#define VARIANT_TARGET

namespace {

// The high bits of the bytes a lane mask chooses (bit b: byte b).
template <std::uint16_t LaneBytes>
struct HighBitsOf {
    static constexpr unsigned char at(unsigned b) { return LaneBytes >> b & 1 ? 0x80 : 0; }
    static constexpr unsigned char bytes[16] = {at(0), at(1), at(2),  at(3),  at(4),  at(5),  at(6),  at(7),
                                                at(8), at(9), at(10), at(11), at(12), at(13), at(14), at(15)};
};
template <std::uint16_t LaneBytes>
constexpr unsigned char HighBitsOf<LaneBytes>::bytes[16];

// One 128-bit register of bytes: the operations BC7's kernel (bc7-lanes.h) needs.
struct Neon {
    typedef uint8x16_t Vector;
    static constexpr unsigned kLanes = 1;
    // No mask registers: signed channel values keep their sign as x86's
    // before AVX-512 do (signedValueBytes, lane-channels.h).
    static constexpr bool kMaskRegisters = false;

    static Vector pattern(const void *p) { return vld1q_u8(static_cast<const std::uint8_t *>(p)); }
    static Vector perLane(const void *const patterns[kLanes]) { return pattern(patterns[0]); }
    static Vector blocks(const unsigned char *const blocks[kLanes]) { return vld1q_u8(blocks[0]); }
    static Vector fromIntegers(const std::uint64_t integers[kLanes])
    {
        return vreinterpretq_u8_u64(vcombine_u64(vcreate_u64(integers[0]), vcreate_u64(0)));
    }
    static Vector zero() { return vdupq_n_u8(0); }
    static Vector splatBytes(unsigned char value) { return vdupq_n_u8(value); }
    static Vector shuffle(Vector table, Vector indices) { return vqtbl1q_u8(table, indices); }
    // Two tables make one of 32 bytes, the third subset's slots after the first two's.
    static constexpr unsigned kThirdSubsetSlots = 16;
    static Vector shuffleTwo(Vector first, Vector second, Vector indices)
    {
        return vqtbl2q_u8(uint8x16x2_t{{first, second}}, indices);
    }
    static Vector bitAnd(Vector a, Vector b) { return vandq_u8(a, b); }
    static Vector bitOr(Vector a, Vector b) { return vorrq_u8(a, b); }
    static Vector subtractBytes(Vector a, Vector b) { return vsubq_u8(a, b); }
    // Counts to the left are positive, to the right negative.
    static Vector shiftLeft16(Vector v, const std::uint16_t *, const std::int16_t *counts)
    {
        return vreinterpretq_u8_u16(vshlq_u16(vreinterpretq_u16_u8(v), vld1q_s16(counts)));
    }
    static Vector shiftRight16(Vector v, const std::uint16_t *, const std::int16_t *counts)
    {
        return shiftLeft16(v, nullptr, counts);
    }
    static Vector shiftEitherWay16(Vector v, const std::uint16_t *, const std::uint16_t *, const std::int16_t *counts)
    {
        return shiftLeft16(v, nullptr, counts);
    }
    template <int count>
    static Vector shiftRightWords(Vector v)
    {
        return vreinterpretq_u8_u16(vshrq_n_u16(vreinterpretq_u16_u8(v), count));
    }
    // Every word packed here is at most 255: its low byte is the value.
    static Vector pack(Vector a, Vector b) { return vuzp1q_u8(a, b); }
    static Vector interleaveLowBytes(Vector a, Vector b) { return vzip1q_u8(a, b); }
    static Vector interleaveHighBytes(Vector a, Vector b) { return vzip2q_u8(a, b); }
    static Vector unpackLow64(Vector a, Vector b)
    {
        return vreinterpretq_u8_u64(vzip1q_u64(vreinterpretq_u64_u8(a), vreinterpretq_u64_u8(b)));
    }
    static Vector unpackHigh64(Vector a, Vector b)
    {
        return vreinterpretq_u8_u64(vzip2q_u64(vreinterpretq_u64_u8(a), vreinterpretq_u64_u8(b)));
    }
    // Products of byte pairs, each pair's two summed into a word; the weights
    // (at most 64) are the same read as signed or unsigned.
    static Vector multiplyAddBytes(Vector endpoints, Vector weights)
    {
        const uint16x8_t low = vmull_u8(vget_low_u8(endpoints), vget_low_u8(weights));
        const uint16x8_t high = vmull_high_u8(endpoints, weights);
        return vreinterpretq_u8_u16(vpaddq_u16(low, high));
    }
    // The same of signed bytes (BC6H's high bytes).
    static Vector multiplyAddSignedBytes(Vector signedBytes, Vector weights)
    {
        const int8x16_t x = vreinterpretq_s8_u8(signedBytes), y = vreinterpretq_s8_u8(weights);
        const int16x8_t low = vmull_s8(vget_low_s8(x), vget_low_s8(y));
        const int16x8_t high = vmull_high_s8(x, y);
        return vreinterpretq_u8_s16(vpaddq_s16(low, high));
    }
    static Vector roundShift6(Vector v) { return vreinterpretq_u8_u16(vrshrq_n_u16(vreinterpretq_u16_u8(v), 6)); }
    static void storeLanes(Vector v, unsigned char *const at[kLanes]) { vst1q_u8(at[0], v); }

    // What BC6H's kernel adds (bc6h-lanes.h): words.
    static Vector splatWords(std::uint16_t value) { return vreinterpretq_u8_u16(vdupq_n_u16(value)); }
    static Vector andNot(Vector mask, Vector b) { return vbicq_u8(b, mask); }
    static Vector add(Vector a, Vector b) { return vreinterpretq_u8_u16(vaddq_u16(vreinterpretq_u16_u8(a), vreinterpretq_u16_u8(b))); }
    template <int count>
    static Vector shiftLeftWords(Vector v) { return vreinterpretq_u8_u16(vshlq_n_u16(vreinterpretq_u16_u8(v), count)); }
    static Vector isZero(Vector a) { return vreinterpretq_u8_u16(vceqzq_u16(vreinterpretq_u16_u8(a))); }
    // Whether any lane's byte b has its high bit set, for the bits b set in LaneBytes.
    template <std::uint16_t LaneBytes>
    static bool anyHighBit(Vector a)
    {
        return vmaxvq_u8(vandq_u8(a, vld1q_u8(HighBitsOf<LaneBytes>::bytes))) >= 0x80;
    }
    // Signed words.
    static Vector greater(Vector a, Vector b)
    {
        return vreinterpretq_u8_u16(vcgtq_s16(vreinterpretq_s16_u8(a), vreinterpretq_s16_u8(b)));
    }
    // m (each word below 0x8000) with its sign bit set where a < b: the
    // comparison's top bit inserted by one bitwise selection.
    static Vector signWhereLess(Vector m, Vector a, Vector b)
    {
        const uint16x8_t less = vcltq_s16(vreinterpretq_s16_u8(a), vreinterpretq_s16_u8(b));
        return vreinterpretq_u8_u16(vbslq_u16(vdupq_n_u16(0x8000), less, vreinterpretq_u16_u8(m)));
    }
    static Vector absolute(Vector a) { return vreinterpretq_u8_s16(vabsq_s16(vreinterpretq_s16_u8(a))); }
    // a negated where `sign` is negative, 0 where it is 0, as x86's sign instruction.
    static Vector signOf(Vector a, Vector sign)
    {
        const int16x8_t s = vreinterpretq_s16_u8(sign);
        const int16x8_t negative = vreinterpretq_s16_u16(vcltzq_s16(s));
        const int16x8_t signedA = vsubq_s16(veorq_s16(vreinterpretq_s16_u8(a), negative), negative);
        return vreinterpretq_u8_s16(vbicq_s16(signedA, vreinterpretq_s16_u16(vceqzq_s16(s))));
    }
    // The high words of unsigned word products, for any values (the
    // palettes' mulhi below is exact for theirs alone).
    static Vector mulhiUnsigned(Vector a, Vector b)
    {
        const uint16x8_t x = vreinterpretq_u16_u8(a), y = vreinterpretq_u16_u8(b);
        const uint32x4_t low = vmull_u16(vget_low_u16(x), vget_low_u16(y));
        const uint32x4_t high = vmull_high_u16(x, y);
        return vreinterpretq_u8_u16(vuzp2q_u16(vreinterpretq_u16_u32(low), vreinterpretq_u16_u32(high)));
    }
    static void storeRows24(Vector low, Vector high, unsigned char *const at[kLanes])
    {
        vst1q_u8(at[0], low);
        vst1_u8(at[0] + 16, vget_low_u8(high));
    }

    // What the colour and channel blocks' shared arithmetic adds
    // (lane-palettes.h, lane-channels.h), on the lanes the NEON kernels hold
    // there: 16-bit sums, byte components and values.
    static Vector lanes(const void *p) { return pattern(p); }
    // The high half of 16-bit products: the doubling multiply-high of half
    // the multiplier, exact for the palette's (even, their products below
    // 2^31; halved at compile time).
    static Vector mulhi(Vector a, Vector multipliers)
    {
        return vreinterpretq_u8_s16(
            vqdmulhq_s16(vreinterpretq_s16_u8(a), vshrq_n_s16(vreinterpretq_s16_u8(multipliers), 1)));
    }
    // (a·m + 2^14) >> 15 of 16-bit lanes.
    static Vector mulhiRound(Vector a, Vector multipliers)
    {
        return vreinterpretq_u8_s16(vqrdmulhq_s16(vreinterpretq_s16_u8(a), vreinterpretq_s16_u8(multipliers)));
    }
    // (a + b) / 2 of bytes, rounded up or down, without overflow.
    static Vector average(Vector a, Vector b) { return vrhaddq_u8(a, b); }
    static Vector halvingAdd(Vector a, Vector b) { return vhaddq_u8(a, b); }
    static Vector bitXor(Vector a, Vector b) { return veorq_u8(a, b); }
    static Vector addBytes(Vector a, Vector b) { return vaddq_u8(a, b); }
    // Signed bytes: compared, and raised to `lowest` where below it.
    static Vector greaterBytes(Vector a, Vector b)
    {
        return vcgtq_s8(vreinterpretq_s8_u8(a), vreinterpretq_s8_u8(b));
    }
    static Vector atLeast(Vector a, Vector lowest)
    {
        return vreinterpretq_u8_s8(vmaxq_s8(vreinterpretq_s8_u8(a), vreinterpretq_s8_u8(lowest)));
    }
};

} // namespace

#endif
