// The plain BC6H decoder: one block at a time, its endpoint components
// gathered run by run as the mode's layout (bc6h-tables.h) lists them, then
// each step of the format's definition in order: sign extension, the
// inverse transform, unquantisation, interpolation and the final scaling to
// a half float. Every vector variant is tested against it.
#include "bc6h-decoder.h"
#include "bc6h-tables.h"

#include <cstdint>
#include <cstring>

#include "plain/block-bits.h"

namespace {

constexpr unsigned kPixels = 16;
constexpr std::size_t kRowBytes = 4 * kBc6hChannels * 2; // four pixels of three halves


// The low `bits` bits of v as a two's complement number.
inline int signExtend(unsigned v, unsigned bits)
{
    const unsigned sign = 1u << (bits - 1);
    return static_cast<int>((v & (2 * sign - 1)) ^ sign) - static_cast<int>(sign);
}

// An endpoint component of `bits` bits to 16 bits. Unsigned: 0 stays 0, the
// largest value becomes 0xFFFF, 15 bits or more pass as they are, else
// ((v << 16) + 0x8000) >> bits. Signed: the same on the magnitude against
// 0x7FFF (with one bit fewer), 16 bits passing, and the sign put back.
template <bool Signed>
int unquantize(int v, unsigned bits)
{
    if (!Signed) {
        const unsigned u = static_cast<unsigned>(v);
        if (bits >= 15 || u == 0)
            return v;
        if (u == (1u << bits) - 1)
            return 0xFFFF;
        return static_cast<int>(((u << 16) + 0x8000u) >> bits);
    }
    if (bits >= 16)
        return v;
    const unsigned magnitude = static_cast<unsigned>(v < 0 ? -v : v);
    unsigned q;
    if (magnitude == 0)
        q = 0;
    else if (magnitude >= (1u << (bits - 1)) - 1)
        q = 0x7FFF;
    else
        q = ((magnitude << 15) + 0x4000u) >> (bits - 1);
    return v < 0 ? -static_cast<int>(q) : static_cast<int>(q);
}

// How interpolated values become halves: unsigned; signed where no
// endpoint of the block is negative, as in almost every block of a real
// signed texture (no value between two non-negative endpoints is negative,
// so each is its own magnitude); and signed of either sign.
enum class Halves { unsignedValues, nonNegative, signedValues };

// ((64 - w)·a + w·b + 32) >> 6, rounding toward minus infinity on negative
// sums too: where values may be negative they are offset to be
// non-negative, so that the shift is of an unsigned number.
template <Halves H>
inline int interpolate(int a, int b, unsigned weight)
{
    constexpr int kOffset = H == Halves::signedValues ? 0x8000 : 0; // the least signed value is −0x8000
    constexpr unsigned whole = 1u << kBc7WeightBits, half = whole / 2;
    const unsigned sum = (whole - weight) * unsigned(a + kOffset) + weight * unsigned(b + kOffset) + half;
    return static_cast<int>(sum >> kBc7WeightBits) - kOffset;
}

// The final scaling, to a half float's bits. Unsigned: (v·31) >> 6.
// Signed: the magnitude's (m·31) >> 5 (the value's own, where none is
// negative), with the sign as the half's sign bit where that is not zero.
template <Halves H>
inline unsigned finish(int v)
{
    if (H == Halves::unsignedValues)
        return (unsigned(v) * 31) >> 6;
    if (H == Halves::nonNegative)
        return (unsigned(v) * 31) >> 5;
    const unsigned magnitude = (unsigned(v < 0 ? -v : v) * 31) >> 5;
    return v < 0 && magnitude != 0 ? 0x8000u | magnitude : magnitude;
}

// The sixteen pixels of a block of mode table row I from its endpoints (in
// form H) and the indices that `reader` is at: 3 bits in two regions, 4 in
// one, each region's anchor (pixel 0, and the second region's from BC7's
// anchor table) one bit short.
template <unsigned I, Halves H>
void storePixels(BitReader reader, unsigned partition, const int (&values)[4][kBc6hChannels],
                 std::uint16_t halves[kPixels][kBc6hChannels])
{
    constexpr const Bc6hMode &mode = Bc6hTables::modes[I];
    const unsigned indexBits = mode.regions == 2 ? 3 : 4;
    const unsigned char *weights = indexBits == 3 ? Bc7Tables::weights3 : Bc7Tables::weights4;
    const unsigned anchor = mode.regions == 2 ? Bc7Tables::anchors2[partition] : 0;
    for (unsigned i = 0; i < kPixels; ++i) {
        const unsigned region = mode.regions == 2 ? Bc7Tables::partitions2[partition][i] : 0;
        const unsigned index = reader.read(i == 0 || i == anchor ? indexBits - 1 : indexBits);
        const int *e0 = values[2 * region], *e1 = values[2 * region + 1];
        for (unsigned c = 0; c < kBc6hChannels; ++c)
            halves[i][c] = static_cast<std::uint16_t>(finish<H>(interpolate<H>(e0[c], e1[c], weights[index])));
    }
}

// One block of mode table row I: its sixteen pixels' halves, row-major.
template <unsigned I, bool Signed>
void decodeMode(const unsigned char *block, std::uint16_t halves[kPixels][kBc6hChannels])
{
    constexpr const Bc6hMode &mode = Bc6hTables::modes[I];
    BitReader reader(block);
    reader.skip(mode.modeBits);

    // The stored components, run by run; a reversed run's first bit is its highest.
    unsigned stored[kBc6hComponents] = {};
    for (unsigned r = 0; r < mode.runCount; ++r) {
        const Bc6hRun run = mode.runs[r];
        if (run.a >= run.b) {
            stored[run.component] |= reader.read(run.a - run.b + 1u) << run.b;
        } else {
            for (unsigned bit = run.b + 1u; bit-- > run.a;)
                stored[run.component] |= reader.read(1) << bit;
        }
    }
    const unsigned partition = mode.regions == 2 ? reader.read(5) : 0;
    const unsigned endpoints = 2 * mode.regions;

    // Sign extension and the inverse transform: deltas are signed, added to
    // the first endpoint and wrapped to its width; the signed form then reads
    // every endpoint as signed.
    int values[4][kBc6hChannels];
    for (unsigned c = 0; c < kBc6hChannels; ++c) {
        const unsigned base = stored[c];
        values[0][c] = Signed ? signExtend(base, mode.endpointBits) : int(base);
        for (unsigned e = 1; e < endpoints; ++e) {
            const unsigned v = stored[kBc6hChannels * e + c];
            unsigned u = v;
            if (mode.transformed)
                u = (base + unsigned(signExtend(v, mode.deltaBits[c]))) & ((1u << mode.endpointBits) - 1);
            values[e][c] = Signed ? signExtend(u, mode.endpointBits) : int(u);
        }
        for (unsigned e = 0; e < endpoints; ++e)
            values[e][c] = unquantize<Signed>(values[e][c], mode.endpointBits);
    }

    bool negative = false;
    for (unsigned e = 0; Signed && e < endpoints; ++e)
        for (unsigned c = 0; c < kBc6hChannels; ++c)
            negative |= values[e][c] < 0;
    if (!Signed)
        storePixels<I, Halves::unsignedValues>(reader, partition, values, halves);
    else if (!negative)
        storePixels<I, Halves::nonNegative>(reader, partition, values, halves);
    else
        storePixels<I, Halves::signedValues>(reader, partition, values, halves);
}

template <bool Signed>
void decodeBlock(const unsigned char *block, std::uint16_t halves[kPixels][kBc6hChannels])
{
    typedef void (*ModeDecoder)(const unsigned char *, std::uint16_t[kPixels][kBc6hChannels]);
    static constexpr ModeDecoder kDecoders[kBc6hModes] = {
        decodeMode<0, Signed>, decodeMode<1, Signed>, decodeMode<2, Signed>,  decodeMode<3, Signed>,
        decodeMode<4, Signed>, decodeMode<5, Signed>, decodeMode<6, Signed>,  decodeMode<7, Signed>,
        decodeMode<8, Signed>, decodeMode<9, Signed>, decodeMode<10, Signed>, decodeMode<11, Signed>,
        decodeMode<12, Signed>, decodeMode<13, Signed>,
    };
    const unsigned mode = bc6hModeOf(block[0] & 0x1Fu);
    if (mode == kBc6hReserved)
        std::memset(halves, 0, sizeof(std::uint16_t) * kPixels * kBc6hChannels);
    else
        kDecoders[mode](block, halves);
}

template <bool Signed>
void decodeBlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    const std::size_t blocks = len / kBc6hBlockBytes;
    for (std::size_t b = 0; b < blocks; ++b) {
        std::uint16_t halves[kPixels][kBc6hChannels];
        decodeBlock<Signed>(data + kBc6hBlockBytes * b, halves);
        for (unsigned yo = 0; yo < 4; ++yo) {
            unsigned char *out = outdata[yo] + kRowBytes * b;
            for (unsigned k = 0; k < 4 * kBc6hChannels; ++k) {
                const unsigned half = halves[4 * yo + k / kBc6hChannels][k % kBc6hChannels];
                out[2 * k] = static_cast<unsigned char>(half);
                out[2 * k + 1] = static_cast<unsigned char>(half >> 8);
            }
        }
    }
}

} // namespace

void decodeBC6HBlocksPlain(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    decodeBlocks<false>(data, len, outdata);
}

void decodeBC6HSBlocksPlain(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    decodeBlocks<true>(data, len, outdata);
}
