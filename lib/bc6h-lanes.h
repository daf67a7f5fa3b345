// The BC6H decoder of the vector variants, written once for every register
// width, as BC7's is (bc7-lanes.h, whose index and weight steps it shares):
// each 128-bit lane decodes a block of its own, and a run is taken a chunk
// at a time with its blocks grouped by mode, each mode's blocks decoded by
// code made for that mode alone.
//
// In a lane, a block becomes:
// - its endpoints, as a table of word pairs (endpoint 0, endpoint 1) per
//   channel, one table per region: the mode's layout (bc6h-tables.h) is
//   known at compile time, so its stored components are cut from the block
//   in vector rounds, each a byte shuffle, a per-word shift either way and a
//   mask (a run is a piece, or several where it spans more than two bytes or
//   is reversed); then the transform, the sign extension and the
//   unquantisation, on every word at once, to 16-bit words (signed in the
//   signed form);
// - its weights, as BC7's: a byte a pixel;
// - per pair of rows, three vectors of eight (pixel, channel) outputs, each
//   gathering its endpoint pair's high bytes and low bytes (a fixed shuffle
//   of the region's table; with two regions, one shuffle of both regions'
//   bytes by an index that the pixel's region offsets) and its weight pair
//   (64 − w, w); two byte multiply-adds and a rounding shift give
//   ((64 − w)·a + w·b + 32) >> 6, the final scaling to a half is one
//   multiply-high (of the magnitude, in the signed form, whose sign bit
//   takes a compare and its merge), and each row is stored (24 bytes).
// Only the indices (each region's anchor one bit short) and the partition
// are read with scalar code.
//
// Signed blocks are first taken as real signed textures almost all are:
// where no endpoint of a lane group is negative, no value between them is,
// and each scales as an unsigned one does. The few groups with a negative
// endpoint are decoded again in the signed form; where more than a few
// and a quarter of a mode's groups in a chunk are (as in random bits), its
// blocks go to the signed form straight from there on.
//
// The including file compiles this for its own instruction set: it defines
// VARIANT_TARGET and includes bc7-lanes.h first.
#ifndef BC6H_LANES_H
#define BC6H_LANES_H

#ifndef BC7_LANES_H
#error "include bc7-lanes.h before bc6h-lanes.h"
#endif

#include "bc6h-tables.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {
namespace bc6h {

constexpr std::size_t kRowBytes = 4 * kBc6hChannels * 2; // four pixels of three halves
constexpr unsigned char kZeroLane = 0x80;

// Rows are taken in pairs, each pair's 24 outputs (output o of a row is
// pixel o / 3's channel o % 3) as three vectors of eight words: the first
// eight outputs of the upper row, those of the lower row, then the last four
// of each. Every vector interpolates each output from its endpoint pair's
// high bytes and low bytes, by byte multiply-adds with the weight pair
// (64 − w, w) of its pixel.
constexpr unsigned kRowPairs = 2, kPairVectors = 3;

// Where vector k of row pair t takes its output j from: its row and output.
constexpr unsigned vectorRow(unsigned t, unsigned k, unsigned j) { return 2 * t + (k < 2 ? k : j / 4); }
constexpr unsigned vectorOutput(unsigned k, unsigned j) { return k < 2 ? j : 8 + j % 4; }
constexpr unsigned vectorPixel(unsigned t, unsigned k, unsigned j)
{
    return 4 * vectorRow(t, k, j) + vectorOutput(k, j) / kBc6hChannels;
}

// Per vector of a row pair, each output word's two bytes: the endpoint
// pair's high bytes and low bytes in a region's pair table (the same in
// every row pair, and for the first two vectors alike: `shape` 0, else 1),
// the weight pair of its pixel from the byte pairs of pixels 0-7 (row pair
// 0) or 8-15 (row pair 1), and its pixel.
struct OutputSpreads {
    unsigned char highPairs[2][16];
    unsigned char lowPairs[2][16];
    unsigned char weights[kRowPairs][kPairVectors][16];
    unsigned char pixel[kRowPairs][kPairVectors][16];
    // With two regions, both regions' high bytes (or low bytes) share a
    // vector, region r's channel c endpoint e at byte kRegionPairBytes·r +
    // 2c + e (cut from each region's table by `regionHigh` and `regionLow`),
    // and each output's pair is gathered by one shuffle: `pairs` gives
    // region 0's bytes per shape.
    unsigned char pairs[2][16];
    unsigned char regionHigh[2][16];
    unsigned char regionLow[2][16];
};
constexpr unsigned kRegionPairBytes = 2 * kBc6hChannels;

constexpr unsigned vectorShape(unsigned k) { return k < 2 ? 0 : 1; }

constexpr OutputSpreads outputSpreads()
{
    OutputSpreads t{};
    for (unsigned b = 0; b < 16; ++b) {
        const unsigned j = b / 2, e = b % 2;
        for (unsigned shape = 0; shape < 2; ++shape) {
            // Channel c's endpoints are words 2c and 2c + 1: bytes 4c + 2e and the next.
            const unsigned c = vectorOutput(shape == 0 ? 0 : 2, j) % kBc6hChannels;
            t.highPairs[shape][b] = static_cast<unsigned char>(4 * c + 2 * e + 1);
            t.lowPairs[shape][b] = static_cast<unsigned char>(4 * c + 2 * e);
            t.pairs[shape][b] = static_cast<unsigned char>(2 * c + e);
        }
        for (unsigned region = 0; region < 2; ++region) {
            const unsigned own = b - kRegionPairBytes * region; // 2c + e where b is region's
            const bool ours = b >= kRegionPairBytes * region && own < kRegionPairBytes;
            t.regionHigh[region][b] = ours ? static_cast<unsigned char>(2 * own + 1) : kZeroLane;
            t.regionLow[region][b] = ours ? static_cast<unsigned char>(2 * own) : kZeroLane;
        }
        for (unsigned rowPair = 0; rowPair < kRowPairs; ++rowPair)
            for (unsigned k = 0; k < kPairVectors; ++k) {
                const unsigned pixel = vectorPixel(rowPair, k, j);
                t.weights[rowPair][k][b] = static_cast<unsigned char>(2 * (pixel % 8) + e);
                t.pixel[rowPair][k][b] = static_cast<unsigned char>(pixel);
            }
    }
    return t;
}

alignas(64) constexpr OutputSpreads kOutputSpreads = outputSpreads();

// Per partition and vector of a row pair, each output byte's byte in the
// shared vectors of pair bytes: `pairs` offset by its pixel's region
// (kRegionPairBytes for the second). Each lane loads its block's from here (a
// load, and an insert for a second lane). Wider registers would pay an
// insert a lane for these and for each lane's own block and rows, more than
// their width gains: the kernel runs at one or two lanes.
struct PairIndices {
    unsigned char index[kBc6hPartitions][kRowPairs][kPairVectors][16];
};

constexpr PairIndices pairIndices()
{
    PairIndices t{};
    for (unsigned p = 0; p < kBc6hPartitions; ++p)
        for (unsigned rowPair = 0; rowPair < kRowPairs; ++rowPair)
            for (unsigned k = 0; k < kPairVectors; ++k)
                for (unsigned b = 0; b < 16; ++b)
                    t.index[p][rowPair][k][b] =
                        static_cast<unsigned char>(kRegionPairBytes * Bc7Tables::partitions2[p][kOutputSpreads.pixel[rowPair][k][b]] +
                                                   kOutputSpreads.pairs[vectorShape(k)][b]);
    return t;
}

alignas(64) constexpr PairIndices kPairIndices = pairIndices();

// Where endpoint component k (endpoint k / 3, channel k % 3) lands: in
// region k / 6's pair table, whose channel c has its endpoints at words 2c
// and 2c + 1.
constexpr unsigned componentRegion(unsigned k) { return k / (2 * kBc6hChannels); }
constexpr unsigned componentWord(unsigned k) { return 2 * (k % kBc6hChannels) + k / kBc6hChannels % 2; }

// How to cut mode I's stored components out of its block into the pair
// tables, as BC7's endpoints are cut (bc7-lanes.h), but from pieces: each
// run of the layout is one piece, or several where its bits span more than
// two bytes (a 16-bit window) or are reversed (a piece a bit). A round
// takes one piece of each word: the word's two block bytes, their shift
// either way, by a count (ARM) or by multiplying (x86: the low product to
// the left, the high one to the right) and the piece's mask, ORed in.
constexpr unsigned kMaxRounds = 8;
constexpr unsigned kTableWords = 2 * kBc6hChannels; // a region's pair table; words 6 and 7 are spare
constexpr unsigned kNoTarget = 8;

// A word with more pieces than the rounds hosts the rest in the spare words
// (each ORed into its word afterwards by one shuffle, or two where both
// serve one word): fewer rounds where a few components are scattered in
// many runs (a two-region mode's last endpoint, bit by bit).
struct FieldRounds {
    unsigned rounds[2];
    unsigned capacity[2];            // the pieces a word hosts
    unsigned char spareTarget[2][2]; // the word each spare word serves, or kNoTarget
    unsigned merges[2];
    unsigned char merge[2][2][16]; // each merge's shuffle: spare words onto their words, zeros elsewhere
    bool left[2][kMaxRounds], right[2][kMaxRounds]; // whether any word of the round shifts that way
    unsigned char window[2][kMaxRounds][16];
    std::uint16_t leftMul[2][kMaxRounds][8];
    std::uint16_t rightMul[2][kMaxRounds][8];
    std::int16_t count[2][kMaxRounds][8];
    std::uint16_t mask[2][kMaxRounds][8];
};

// One piece of a mode's layout: `bits` bits from block bit `from` to bits
// `to` up of component k.
struct Piece {
    unsigned char component, from, bits, to;
};

struct Pieces {
    unsigned count;
    Piece piece[64];
};

constexpr Pieces pieces(unsigned I)
{
    const Bc6hMode &mode = Bc6hTables::modes[I];
    Pieces p{};
    unsigned from = mode.modeBits;
    for (unsigned r = 0; r < mode.runCount; ++r) {
        const Bc6hRun run = mode.runs[r];
        if (run.a >= run.b) {
            // Pieces whose bits lie in two bytes.
            for (unsigned done = 0, count = run.a - run.b + 1u; done < count;) {
                const unsigned room = 16 - (from + done) % 8, bits = count - done < room ? count - done : room;
                p.piece[p.count++] = {run.component, static_cast<unsigned char>(from + done),
                                      static_cast<unsigned char>(bits), static_cast<unsigned char>(run.b + done)};
                done += bits;
            }
            from += run.a - run.b + 1u;
        } else {
            for (unsigned bit = run.b + 1u; bit-- > run.a; ++from) // reversed: the first bit is the highest
                p.piece[p.count++] = {run.component, static_cast<unsigned char>(from), 1, static_cast<unsigned char>(bit)};
        }
    }
    return p;
}

constexpr void placePiece(FieldRounds &t, unsigned region, unsigned word, unsigned round, const Piece &piece)
{
    const int shift = int(piece.to) - int(piece.from % 8);
    if (round >= t.rounds[region])
        t.rounds[region] = round + 1;
    t.window[region][round][2 * word] = static_cast<unsigned char>(piece.from / 8);
    t.window[region][round][2 * word + 1] =
        static_cast<unsigned char>(piece.from / 8 + 1u < kBc6hBlockBytes ? piece.from / 8 + 1u : kZeroLane);
    t.count[region][round][word] = static_cast<std::int16_t>(shift);
    if (shift >= 0) {
        t.leftMul[region][round][word] = static_cast<std::uint16_t>(1u << shift);
        t.left[region][round] = true;
    } else {
        t.rightMul[region][round][word] = static_cast<std::uint16_t>(1u << (16 + shift));
        t.right[region][round] = true;
    }
    t.mask[region][round][word] = static_cast<std::uint16_t>(((1u << piece.bits) - 1) << piece.to);
}

// The rounds and spare words of one region whose words have `demand` pieces
// each, for the least work: about six instructions a round, two a merge.
constexpr void chooseRounds(FieldRounds &t, unsigned region, const unsigned (&demand)[kTableWords])
{
    unsigned best = ~0u;
    for (unsigned n = 1; n <= kMaxRounds; ++n) {
        unsigned over = 0, first = kNoTarget, second = kNoTarget, firstExtra = 0, secondExtra = 0;
        for (unsigned w = 0; w < kTableWords; ++w)
            if (demand[w] > n) {
                ++over;
                (first == kNoTarget ? first : second) = static_cast<unsigned char>(w);
                (firstExtra == 0 ? firstExtra : secondExtra) = demand[w] - n;
            }
        unsigned char targets[2] = {kNoTarget, kNoTarget};
        unsigned merges = 0;
        if (over == 1 && firstExtra <= n) {
            targets[0] = static_cast<unsigned char>(first);
            merges = 1;
        } else if (over == 1 && firstExtra <= 2 * n) {
            targets[0] = targets[1] = static_cast<unsigned char>(first);
            merges = 2;
        } else if (over == 2 && firstExtra <= n && secondExtra <= n) {
            targets[0] = static_cast<unsigned char>(first);
            targets[1] = static_cast<unsigned char>(second);
            merges = 1;
        } else if (over != 0) {
            continue;
        }
        const unsigned cost = 6 * n + 2 * merges;
        if (cost < best) {
            best = cost;
            t.spareTarget[region][0] = targets[0];
            t.spareTarget[region][1] = targets[1];
            t.merges[region] = merges;
            t.capacity[region] = n;
        }
    }
    for (unsigned m = 0; m < 2; ++m)
        for (unsigned byte = 0; byte < 16; ++byte)
            t.merge[region][m][byte] = kZeroLane;
    for (unsigned s = 0; s < 2; ++s) {
        const unsigned target = t.spareTarget[region][s];
        if (target == kNoTarget)
            continue;
        const unsigned m = s == 1 && t.merges[region] == 2 ? 1 : 0;
        t.merge[region][m][2 * target] = static_cast<unsigned char>(2 * (kTableWords + s));
        t.merge[region][m][2 * target + 1] = static_cast<unsigned char>(2 * (kTableWords + s) + 1);
    }
}

constexpr FieldRounds fieldRounds(unsigned I)
{
    FieldRounds t{};
    for (unsigned region = 0; region < 2; ++region)
        for (unsigned round = 0; round < kMaxRounds; ++round)
            for (unsigned byte = 0; byte < 16; ++byte)
                t.window[region][round][byte] = kZeroLane;
    const Pieces p = pieces(I);
    unsigned demand[2][kTableWords] = {};
    for (unsigned i = 0; i < p.count; ++i)
        ++demand[componentRegion(p.piece[i].component)][componentWord(p.piece[i].component)];
    chooseRounds(t, 0, demand[0]);
    chooseRounds(t, 1, demand[1]);
    // Each piece into its word while that has room, else into a spare word
    // serving it; in each, pieces shifted left from the first round up and
    // pieces shifted right from the last down, so that few rounds shift both ways.
    unsigned used[2][8] = {}, lefts[2][8] = {}, rights[2][8] = {};
    unsigned char host[64] = {};
    for (unsigned i = 0; i < p.count; ++i) {
        const unsigned region = componentRegion(p.piece[i].component), word = componentWord(p.piece[i].component);
        unsigned h = word;
        if (used[region][word] >= t.capacity[region])
            h = t.spareTarget[region][0] == word && used[region][kTableWords] < t.capacity[region] ? kTableWords
                                                                                                   : kTableWords + 1;
        ++used[region][h];
        host[i] = static_cast<unsigned char>(h);
    }
    for (unsigned i = 0; i < p.count; ++i) {
        const unsigned region = componentRegion(p.piece[i].component), h = host[i];
        const bool left = p.piece[i].to >= p.piece[i].from % 8;
        const unsigned round = left ? lefts[region][h]++ : t.capacity[region] - 1 - rights[region][h]++;
        placePiece(t, region, h, round, p.piece[i]);
    }
    return t;
}

// Whether every mode's rounds set each bit of each stored component once,
// and no other, counting the spare words for the words they serve: a split
// or reversed run that loses or repeats a bit fails.
constexpr bool roundsCoverEachBitOnce()
{
    for (unsigned i = 0; i < kBc6hModes; ++i) {
        const FieldRounds t = fieldRounds(i);
        for (unsigned k = 0; k < kBc6hComponents; ++k) {
            const unsigned region = componentRegion(k), word = componentWord(k);
            unsigned covered = 0;
            for (unsigned host = 0; host < 8; ++host) {
                const bool serves = host == word || (host >= kTableWords && t.spareTarget[region][host - kTableWords] == word);
                for (unsigned round = 0; serves && round < kMaxRounds; ++round) {
                    const unsigned mask = t.mask[region][round][host];
                    if (covered & mask)
                        return false;
                    covered |= mask;
                }
            }
            if (covered != (1u << bc6hComponentBits(Bc6hTables::modes[i], k)) - 1u)
                return false;
        }
    }
    return true;
}
static_assert(roundsCoverEachBitOnce(), "the rounds cut each component bit once");

template <unsigned I>
struct FieldRoundsOf {
    static constexpr FieldRounds rounds = fieldRounds(I);
    static_assert(rounds.rounds[0] <= kMaxRounds && rounds.rounds[1] <= kMaxRounds, "rounds fit the recipe");
};
template <unsigned I>
constexpr FieldRounds FieldRoundsOf<I>::rounds;

// Round k of region R's stored components of mode I's blocks, then the
// rest, ORed into their pair table's words (a template a round, so that every
// compiler unrolls them and each round's shift is chosen at compile time).
template <class V, unsigned I, unsigned R, unsigned k = 0, bool more = (k < FieldRoundsOf<I>::rounds.rounds[R])>
struct StoredComponents {
    VARIANT_TARGET static typename V::Vector cut(typename V::Vector blocks, typename V::Vector stored)
    {
        typedef typename V::Vector Vector;
        constexpr const FieldRounds &t = FieldRoundsOf<I>::rounds;
        const Vector w = V::shuffle(blocks, V::pattern(t.window[R][k]));
        const Vector shifted =
            !t.right[R][k] ? V::shiftLeft16(w, t.leftMul[R][k], t.count[R][k])
            : !t.left[R][k] ? V::shiftRight16(w, t.rightMul[R][k], t.count[R][k])
                            : V::shiftEitherWay16(w, t.leftMul[R][k], t.rightMul[R][k], t.count[R][k]);
        return StoredComponents<V, I, R, k + 1>::cut(blocks, V::bitOr(stored, V::bitAnd(shifted, V::pattern(t.mask[R][k]))));
    }
};

// After the rounds, the spare words ORed into the words they serve.
template <class V, unsigned I, unsigned R, unsigned k>
struct StoredComponents<V, I, R, k, false> {
    VARIANT_TARGET static typename V::Vector cut(typename V::Vector, typename V::Vector stored)
    {
        constexpr const FieldRounds &t = FieldRoundsOf<I>::rounds;
        for (unsigned m = 0; m < t.merges[R]; ++m)
            stored = V::bitOr(stored, V::shuffle(stored, V::pattern(t.merge[R][m])));
        return stored;
    }
};

// The transform of mode I, per region's table: each word's sign bit at its
// stored width, minus that bit, and the byte pair of its channel's e0 to add
// (none for e0 itself, whose width is the endpoint bits: it comes back
// whole). Words 6 and 7, the spare ones, are read by no output.
struct TransformSteps {
    unsigned char base[2][16];
    std::uint16_t sign[2][8];
    std::uint16_t minusSign[2][8];
};

constexpr TransformSteps transformSteps(unsigned I)
{
    const Bc6hMode &mode = Bc6hTables::modes[I];
    TransformSteps t{};
    for (unsigned region = 0; region < 2; ++region)
        for (unsigned word = 0; word < 8; ++word) {
            const unsigned c = word / 2;
            const bool first = region == 0 && word % 2 == 0;
            const unsigned bits = c >= kBc6hChannels ? 0 : first ? mode.endpointBits : mode.deltaBits[c];
            t.sign[region][word] = static_cast<std::uint16_t>(bits ? 1u << (bits - 1) : 0);
            t.minusSign[region][word] = static_cast<std::uint16_t>(0x10000u - t.sign[region][word]);
            const bool based = c < kBc6hChannels && !first;
            t.base[region][2 * word] = based ? static_cast<unsigned char>(4 * c) : kZeroLane;
            t.base[region][2 * word + 1] = based ? static_cast<unsigned char>(4 * c + 1) : kZeroLane;
        }
    return t;
}

template <unsigned I>
struct TransformStepsOf {
    static constexpr TransformSteps steps = transformSteps(I);
};
template <unsigned I>
constexpr TransformSteps TransformStepsOf<I>::steps;

// What the interpolated values are and how they become halves: unsigned
// words; signed words of which none is negative, as in almost every signed
// texture (every value between non-negative endpoints is non-negative);
// and signed words of either sign.
enum class Halves { unsignedValues, nonNegative, signedValues };

// One region's pair table of mode I from its stored components (`stored`;
// region 0's, `first`, holds e0): the transform (deltas sign-extended, added
// to e0 and wrapped to the endpoint bits), the signed forms' sign extension
// and the unquantisation (docs/formats.md), on every word at once, to
// 16-bit words (signed in the signed forms). Below 15 (unsigned) or 16
// (signed) bits, ((v << 16) + 0x8000) >> b is v << (16 − b) plus 2^(15 − b),
// and so is ((m << 15) + 0x4000) >> (b − 1) on the magnitude.
template <class V, unsigned I, Halves H>
VARIANT_TARGET inline typename V::Vector endpointTable(typename V::Vector stored, typename V::Vector first,
                                                      unsigned region)
{
    typedef typename V::Vector Vector;
    constexpr const Bc6hMode &mode = Bc6hTables::modes[I];
    constexpr unsigned bits = mode.endpointBits;
    constexpr std::uint16_t endpointSign = static_cast<std::uint16_t>(1u << (bits - 1));
    Vector v = stored;
    if (mode.transformed) {
        const TransformSteps &t = TransformStepsOf<I>::steps;
        v = V::add(V::add(V::bitXor(v, V::pattern(t.sign[region])), V::shuffle(first, V::pattern(t.base[region]))),
                   V::pattern(t.minusSign[region]));
        if (bits < 16)
            v = V::bitAnd(v, V::splatWords(static_cast<std::uint16_t>((1u << bits) - 1)));
    }
    constexpr unsigned shift = bits < 16 ? 16 - bits : 1;
    if (H == Halves::unsignedValues) {
        if (bits >= 15)
            return v;
        const Vector q = V::add(V::template shiftLeftWords<shift>(v), V::splatWords(0x8000u >> bits));
        const Vector largest = V::isZero(V::bitXor(v, V::splatWords(static_cast<std::uint16_t>((1u << bits) - 1))));
        return V::bitOr(V::andNot(V::isZero(v), q), largest);
    }
    if (bits >= 16)
        return v;
    if (H == Halves::nonNegative) {
        // The magnitude is v itself, not yet sign-extended: where v is
        // negative (its top bit at b bits set), v << (16 − b) is 0x8000 or
        // more and the sum keeps that bit, which the caller tests. A v from
        // 2^(b − 1) − 1 up (the largest non-negative one, or a negative one)
        // ORs in 0x7FFF.
        const Vector q = V::andNot(V::isZero(v), V::add(V::template shiftLeftWords<shift>(v), V::splatWords(0x8000u >> bits)));
        return V::bitOr(q, V::template shiftRightWords<1>(V::greater(v, V::splatWords(static_cast<std::uint16_t>(endpointSign - 2)))));
    }
    v = V::add(V::bitXor(v, V::splatWords(endpointSign)), V::splatWords(static_cast<std::uint16_t>(0x10000u - endpointSign)));
    // Magnitudes from 2^(b − 1) − 1 up become 0x7FFF: all ones, then the top
    // bit cleared (below that, q < 0x8000); a zero v zeroes q with the sign.
    const Vector m = V::absolute(v);
    Vector q = V::add(V::template shiftLeftWords<shift>(m), V::splatWords(0x8000u >> bits));
    q = V::bitOr(q, V::greater(m, V::splatWords(static_cast<std::uint16_t>(endpointSign - 2))));
    return V::signOf(V::bitAnd(q, V::splatWords(0x7FFF)), v);
}

// Halves from interpolated values, as the final scaling makes them:
// unsigned, (v·31) >> 6 is the high word of v·(31 << 10); signed, the
// magnitude's (m·31) >> 5 that of m·(31 << 11) (the value itself where it is
// not negative), with the sign bit where v ≤ −2, whose scaled magnitude is
// not 0 (−1 scales to +0).
template <class V, Halves H>
VARIANT_TARGET inline typename V::Vector scaled(typename V::Vector v)
{
    if (H == Halves::unsignedValues)
        return V::mulhiUnsigned(v, V::splatWords(31u << 10));
    if (H == Halves::nonNegative)
        return V::mulhiUnsigned(v, V::splatWords(31u << 11));
    const typename V::Vector magnitude = V::mulhiUnsigned(V::absolute(v), V::splatWords(31u << 11));
    return V::signWhereLess(magnitude, v, V::splatWords(0xFFFF));
}

// A lane group's rows, from its blocks' pair tables (`region0` and
// `region1`, the same with one region), their weights (a byte a pixel) and
// partitions: per pair of rows, three vectors of eight halves, stored a row
// at a time (inlined, so that what it is given stays in registers).
template <class V, bool TwoRegions, Halves H>
VARIANT_TARGET __attribute__((always_inline)) inline void storeRows(typename V::Vector region0,
                                                                    typename V::Vector region1,
                                                                    typename V::Vector weights,
                                                                    const unsigned *partition, const std::size_t *at,
                                                                    unsigned char *const outdata[4])
{
    static_assert(V::kLanes <= 2, "each lane's pair indices are loaded on their own");
    typedef typename V::Vector Vector;
    const Vector sixtyFour = V::splatBytes(1 << kBc7WeightBits);
    const Vector pairsLow = V::interleaveLowBytes(V::subtractBytes(sixtyFour, weights), weights);
    const Vector pairsHigh = V::interleaveHighBytes(V::subtractBytes(sixtyFour, weights), weights);
    // Each shape's endpoint pairs, high bytes and low bytes, are the same
    // in every row pair. With two regions, each output's comes from its
    // pixel's region, gathered from both regions' bytes in one vector.
    Vector high0[2] = {}, low0[2] = {}, highBytes = V::zero(), lowBytes = V::zero();
    if (!TwoRegions) {
        for (unsigned shape = 0; shape < 2; ++shape) {
            high0[shape] = V::shuffle(region0, V::pattern(kOutputSpreads.highPairs[shape]));
            low0[shape] = V::shuffle(region0, V::pattern(kOutputSpreads.lowPairs[shape]));
        }
    } else {
        highBytes = V::bitOr(V::shuffle(region0, V::pattern(kOutputSpreads.regionHigh[0])),
                             V::shuffle(region1, V::pattern(kOutputSpreads.regionHigh[1])));
        lowBytes = V::bitOr(V::shuffle(region0, V::pattern(kOutputSpreads.regionLow[0])),
                            V::shuffle(region1, V::pattern(kOutputSpreads.regionLow[1])));
    }
    const unsigned char(*laneIndices[V::kLanes])[kPairVectors][16];
    for (unsigned l = 0; l < V::kLanes; ++l)
        laneIndices[l] = kPairIndices.index[partition[l]];
#pragma GCC unroll 2
    for (unsigned t = 0; t < kRowPairs; ++t) {
        const Vector pairs = t == 0 ? pairsLow : pairsHigh;
        Vector out[kPairVectors];
        for (unsigned k = 0; k < kPairVectors; ++k) {
            const unsigned shape = vectorShape(k);
            Vector high = high0[shape], low = low0[shape];
            if (TwoRegions) {
                const Vector index = bc7::perLane<V>([&](unsigned l) { return laneIndices[l][t][k]; });
                high = V::shuffle(highBytes, index);
                low = V::shuffle(lowBytes, index);
            }
            const Vector weightPairs = V::shuffle(pairs, V::pattern(kOutputSpreads.weights[t][k]));
            // (64 − w)·a + w·b split at a's and b's bytes: 256 times the
            // high bytes' sum plus the low bytes' (each fits a word: at most
            // 64 · 255), so ((64 − w)·a + w·b + 32) >> 6 is four times the
            // first plus the second's (x + 32) >> 6. Modulo 2^16 that is
            // the value, which fits a word.
            const Vector highSum = H == Halves::signedValues ? V::multiplyAddSignedBytes(high, weightPairs)
                                                             : V::multiplyAddBytes(high, weightPairs);
            const Vector lowSum = V::multiplyAddBytes(low, weightPairs);
            out[k] = scaled<V, H>(V::add(V::template shiftLeftWords<2>(highSum), V::roundShift6(lowSum)));
        }
        unsigned char *upper[V::kLanes], *lower[V::kLanes];
        for (unsigned l = 0; l < V::kLanes; ++l) {
            upper[l] = outdata[2 * t] + kRowBytes * at[l];
            lower[l] = outdata[2 * t + 1] + kRowBytes * at[l];
        }
        V::storeRows24(out[0], out[2], upper);
        V::storeRows24(out[1], V::unpackHigh64(out[2], out[2]), lower);
    }
}

// Blocks are grouped a chunk at a time, as BC7's are.
constexpr std::size_t kChunkBlocks = 512;

// The bytes of a pair table's lane that hold its endpoints' sign bits: the
// high bytes of words 0 to 5 (the spare words are read by no output).
constexpr std::uint16_t kEndpointSignBytes = 0x0AAA;

// The lane groups of a mode's blocks in a chunk that the non-negative form
// left to the signed one: their blocks' positions, and whether it gave way
// to the signed form for the rest (once more than a few groups, and more
// than a quarter of those seen, had a negative endpoint: random bits make
// most of them so, real signed textures next to none).
struct LeftOver {
    std::uint16_t positions[kChunkBlocks];
    std::size_t count, groups;
    bool gaveWay;
};
constexpr std::size_t kFewLeftOver = 2;

// A lane group of mode I's blocks as far as its rows: their pair tables
// and weights, and apart from those, where their rows go and their
// partitions.
template <class V>
struct LaneGroup {
    typename V::Vector region0, region1, weights;
};
template <class V>
struct GroupPlaces {
    std::size_t at[V::kLanes];
    unsigned partition[V::kLanes];
};

// The lane group from `positions[i]` on (the last position repeated past
// `count`), in form H.
template <class V, unsigned I, Halves H>
VARIANT_TARGET __attribute__((always_inline)) inline void prepareGroup(LaneGroup<V> &g, GroupPlaces<V> &p,
                                                                       const unsigned char *data,
                                                                       const std::uint16_t *positions,
                                                                       std::size_t i, std::size_t count)
{
    typedef typename V::Vector Vector;
    constexpr const Bc6hMode &mode = Bc6hTables::modes[I];
    constexpr bool twoRegions = mode.regions == 2;
    constexpr unsigned indexBits = twoRegions ? 3 : 4;
    const unsigned char *blocks[V::kLanes];
    std::uint64_t indices[V::kLanes];
    for (unsigned l = 0; l < V::kLanes; ++l) {
        p.at[l] = positions[i + l < count ? i + l : count - 1];
        blocks[l] = data + kBc6hBlockBytes * p.at[l];
        const std::uint64_t low = bc7::load64(blocks[l]), high = bc7::load64(blocks[l] + 8);
        // The indices, each region's anchor one bit short.
        if (twoRegions) {
            p.partition[l] = static_cast<unsigned>(bc7::blockBits<77, 5>(low, high));
            const std::uint64_t stored = bc7::insertZero(bc7::blockBits<kBc6hTwoRegionHeader, 46>(low, high), 2);
            indices[l] = bc7::insertZero(stored, Bc7Tables::anchors2[p.partition[l]] * 3u + 2u);
        } else {
            p.partition[l] = 0;
            indices[l] = bc7::insertZero(bc7::blockBits<kBc6hOneRegionHeader, 63>(low, high), 3);
        }
    }
    const Vector block = V::blocks(blocks);
    const Vector stored0 = StoredComponents<V, I, 0>::cut(block, V::zero());
    g.region0 = endpointTable<V, I, H>(stored0, stored0, 0);
    g.region1 = g.region0;
    if (twoRegions)
        g.region1 = endpointTable<V, I, H>(StoredComponents<V, I, 1>::cut(block, V::zero()), stored0, 1);
    g.weights = bc7::pixelWeights<V, indexBits>(V::fromIntegers(indices));
}

// Mode I's blocks at `positions`, a lane group at a time, in form H. In
// the non-negative form, a lane group with a negative endpoint is added to
// `leftOver`, and where those are many the form gives way: the blocks from
// the position returned on are not decoded (`count` where every block was
// decoded or left over).
//
// Each group's tables are made before the rows of the group ahead of it:
// a group's steps depend on each other from its block's load to its stores,
// and in this order a core's scheduler holds the next group's early steps
// beside the rows, where in the plain order it would wait on them. The
// vectors are handed on by copy, which stays in registers; the places take
// turns in two slots, stored and read a word at a time. (Copied with the
// vectors, they were read back in wider moves than they were stored with,
// which wait for the stores to finish: in some builds half as slow again.)
template <class V, unsigned I, Halves H>
VARIANT_TARGET std::size_t decodeGroups(const unsigned char *data, const std::uint16_t *positions, std::size_t count,
                                        unsigned char *const outdata[4], LeftOver *leftOver)
{
    constexpr bool twoRegions = Bc6hTables::modes[I].regions == 2;
    if (count == 0)
        return 0;
    LaneGroup<V> next;
    GroupPlaces<V> places[2];
    prepareGroup<V, I, H>(next, places[0], data, positions, 0, count);
    for (std::size_t i = 0, k = 0; i < count; i += V::kLanes, k ^= 1) {
        const LaneGroup<V> g = next;
        prepareGroup<V, I, H>(next, places[k ^ 1], data, positions, i + V::kLanes, count);
        storeRows<V, twoRegions, H>(g.region0, g.region1, g.weights, places[k].partition, places[k].at, outdata);
        if (H == Halves::nonNegative &&
            __builtin_expect(V::template anyHighBit<kEndpointSignBytes>(V::bitOr(g.region0, g.region1)), 0)) {
            for (unsigned l = 0; l < V::kLanes && i + l < count; ++l)
                leftOver->positions[leftOver->count++] = positions[i + l];
            ++leftOver->groups;
            if (leftOver->groups > kFewLeftOver && 4 * leftOver->groups > i / V::kLanes + 1) {
                leftOver->gaveWay = true;
                return i + V::kLanes < count ? i + V::kLanes : count;
            }
        }
    }
    return count;
}

// Mode I's blocks. Signed ones are taken in the non-negative form, as
// almost every block of a real signed texture is, and those it leaves in
// the signed form; once it gave way in a chunk, the mode's later chunks go
// to the signed form straight (`signedForm`).
template <class V, unsigned I, bool Signed>
VARIANT_TARGET void decodeMode(const unsigned char *data, const std::uint16_t *positions, std::size_t count,
                               unsigned char *const outdata[4], bool &signedForm)
{
    if (!Signed) {
        decodeGroups<V, I, Halves::unsignedValues>(data, positions, count, outdata, nullptr);
        return;
    }
    LeftOver leftOver;
    leftOver.count = leftOver.groups = 0;
    leftOver.gaveWay = false;
    std::size_t done = 0;
    if (!signedForm) {
        done = decodeGroups<V, I, Halves::nonNegative>(data, positions, count, outdata, &leftOver);
        signedForm = leftOver.gaveWay;
    }
    decodeGroups<V, I, Halves::signedValues>(data, leftOver.positions, leftOver.count, outdata, nullptr);
    decodeGroups<V, I, Halves::signedValues>(data, positions + done, count - done, outdata, nullptr);
}

// Each low five bits' row of the mode table, or kBc6hReserved.
struct ModeOfLowBits {
    unsigned char mode[32];
};

constexpr ModeOfLowBits modeOfLowBits()
{
    ModeOfLowBits t{};
    for (unsigned low5 = 0; low5 < 32; ++low5)
        t.mode[low5] = static_cast<unsigned char>(bc6hModeOf(low5));
    return t;
}

constexpr ModeOfLowBits kModeOfLowBits = modeOfLowBits();

template <class V, bool Signed, unsigned... I>
struct EachMode {
    VARIANT_TARGET static void decode(const unsigned char *data, const std::uint16_t (*positions)[kChunkBlocks],
                                   const std::size_t *counts, unsigned char *const outdata[4], bool *signedForm)
    {
        const int expand[] = {(decodeMode<V, I, Signed>(data, positions[I], counts[I], outdata, signedForm[I]), 0)...};
        (void)expand;
    }
};

template <class V, bool Signed>
VARIANT_TARGET void decodeBlocks(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    const std::size_t blocks = len / kBc6hBlockBytes;
    bool signedForm[kBc6hModes] = {};
    for (std::size_t start = 0; start < blocks; start += kChunkBlocks) {
        const std::size_t chunk = blocks - start < kChunkBlocks ? blocks - start : kChunkBlocks;
        std::uint16_t positions[kBc6hModes + 1][kChunkBlocks];
        std::size_t counts[kBc6hModes + 1] = {};
        const unsigned char *chunkData = data + kBc6hBlockBytes * start;
        for (std::size_t j = 0; j < chunk; ++j) {
            const unsigned mode = kModeOfLowBits.mode[chunkData[kBc6hBlockBytes * j] & 0x1Fu];
            positions[mode][counts[mode]++] = static_cast<std::uint16_t>(j);
        }
        unsigned char *const chunkOut[4] = {outdata[0] + kRowBytes * start, outdata[1] + kRowBytes * start,
                                            outdata[2] + kRowBytes * start, outdata[3] + kRowBytes * start};
        EachMode<V, Signed, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13>::decode(chunkData, positions, counts, chunkOut, signedForm);
        for (std::size_t k = 0; k < counts[kBc6hReserved]; ++k)
            for (unsigned yo = 0; yo < 4; ++yo)
                std::memset(chunkOut[yo] + kRowBytes * positions[kBc6hReserved][k], 0, kRowBytes);
    }
}

} // namespace bc6h
} // namespace

#endif
