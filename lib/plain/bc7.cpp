// The plain BC7 decoder: one block at a time, each field read in the order the
// format stores it, each pixel interpolated on its own. It follows the
// format's definition step by step so that it can be read against it; every
// vector variant is tested against it.
#include "bc7-decoder.h"
#include "bc7-tables.h"

#include <cstdint>
#include <cstring>

#include "plain/block-bits.h"

namespace {


constexpr unsigned kRed = 0, kAlpha = 3, kColourChannels = 3;
constexpr unsigned char kOpaque = 255;

// An endpoint component of `bits` bits (the p-bit included) widened to eight
// by repeating its top bits below it: 5 bits abcde become abcdeabc.
unsigned widen(unsigned value, unsigned bits)
{
    const unsigned shifted = value << (8 - bits);
    return (shifted | shifted >> bits) & 0xFFu;
}

// ((64 - w)·e0 + w·e1 + 32) >> 6: weights are out of 64, rounded to nearest.
unsigned interpolate(unsigned e0, unsigned e1, unsigned weight)
{
    constexpr unsigned whole = 1u << kBc7WeightBits, half = whole / 2;
    return ((whole - weight) * e0 + weight * e1 + half) >> kBc7WeightBits;
}

const unsigned char *weightTable(unsigned indexBits)
{
    return indexBits == 2 ? Bc7Tables::weights2 : indexBits == 3 ? Bc7Tables::weights3 : Bc7Tables::weights4;
}

// The subset of each pixel and the anchor pixel of each subset.
struct Partition {
    const unsigned char *subsetOf; // kBc7Pixels entries
    unsigned anchors[kBc7MaxSubsets];
};

Partition partition(unsigned subsets, unsigned number)
{
    static constexpr unsigned char kOneSubset[kBc7Pixels] = {};
    if (subsets == 1)
        return {kOneSubset, {0, 0, 0}};
    if (subsets == 2)
        return {Bc7Tables::partitions2[number], {0, Bc7Tables::anchors2[number], 0}};
    return {Bc7Tables::partitions3[number],
            {0, Bc7Tables::anchors3Second[number], Bc7Tables::anchors3Third[number]}};
}

// Sixteen indices of `bits` bits each, the anchor pixels' one bit shorter.
void readIndices(BitReader &reader, unsigned bits, const Partition &part, unsigned subsets,
                 unsigned indices[kBc7Pixels])
{
    for (unsigned i = 0; i < kBc7Pixels; ++i) {
        bool anchor = false;
        for (unsigned s = 0; s < subsets; ++s)
            anchor = anchor || part.anchors[s] == i;
        indices[i] = reader.read(anchor ? bits - 1 : bits);
    }
}

// One block of mode M: its sixteen RGBA pixels, row-major. The mode is a
// template parameter so that the compiler knows each field's width.
template <unsigned M>
void decodeMode(const unsigned char *block, unsigned char pixels[kBc7Pixels][kBc7Channels])
{
    constexpr unsigned modeNumber = M;
    constexpr Bc7ModeLayout mode = Bc7Tables::modes[M];

    BitReader reader(block);
    reader.skip(modeNumber + 1);
    const unsigned partitionNumber = reader.read(mode.partitionBits);
    const unsigned rotation = reader.read(mode.rotationBits);
    const unsigned indexSelection = reader.read(mode.indexSelectionBits);

    // endpoints[subset][endpoint][channel], first as stored, then widened.
    unsigned endpoints[kBc7MaxSubsets][2][kBc7Channels] = {};
    for (unsigned c = kRed; c < kColourChannels; ++c)
        for (unsigned s = 0; s < mode.subsets; ++s)
            for (unsigned e = 0; e < 2; ++e)
                endpoints[s][e][c] = reader.read(mode.colourBits);
    for (unsigned s = 0; s < mode.subsets; ++s)
        for (unsigned e = 0; e < 2; ++e)
            endpoints[s][e][kAlpha] = reader.read(mode.alphaBits);

    unsigned pBits[kBc7MaxSubsets][2] = {};
    for (unsigned s = 0; s < mode.subsets; ++s)
        for (unsigned e = 0; e < 2; ++e)
            if (mode.endpointPBits)
                pBits[s][e] = reader.read(1);
    for (unsigned s = 0; s < mode.subsets; ++s)
        if (mode.sharedPBits)
            pBits[s][0] = pBits[s][1] = reader.read(1);

    const unsigned pBitCount = mode.endpointPBits + mode.sharedPBits;
    for (unsigned s = 0; s < mode.subsets; ++s)
        for (unsigned e = 0; e < 2; ++e) {
            unsigned *endpoint = endpoints[s][e];
            for (unsigned c = kRed; c < kColourChannels; ++c)
                endpoint[c] = widen(endpoint[c] << pBitCount | pBits[s][e], mode.colourBits + pBitCount);
            endpoint[kAlpha] = mode.alphaBits == 0
                                   ? kOpaque
                                   : widen(endpoint[kAlpha] << pBitCount | pBits[s][e], mode.alphaBits + pBitCount);
        }

    const Partition part = partition(mode.subsets, partitionNumber);
    unsigned primary[kBc7Pixels], secondary[kBc7Pixels];
    readIndices(reader, mode.indexBits, part, mode.subsets, primary);
    if (mode.secondaryIndexBits)
        readIndices(reader, mode.secondaryIndexBits, part, mode.subsets, secondary);

    // Colour takes the secondary indices only when the index selection bit
    // says so; alpha takes them whenever colour does not.
    const bool colourFromSecondary = indexSelection == 1;
    const bool alphaFromSecondary = mode.secondaryIndexBits != 0 && !colourFromSecondary;
    const unsigned char *colourWeights =
        weightTable(colourFromSecondary ? mode.secondaryIndexBits : mode.indexBits);
    const unsigned char *alphaWeights = weightTable(alphaFromSecondary ? mode.secondaryIndexBits : mode.indexBits);

    for (unsigned i = 0; i < kBc7Pixels; ++i) {
        const unsigned(&ends)[2][kBc7Channels] = endpoints[part.subsetOf[i]];
        const unsigned colourWeight = colourWeights[colourFromSecondary ? secondary[i] : primary[i]];
        const unsigned alphaWeight = alphaWeights[alphaFromSecondary ? secondary[i] : primary[i]];
        unsigned pixel[kBc7Channels];
        for (unsigned c = kRed; c < kColourChannels; ++c)
            pixel[c] = interpolate(ends[0][c], ends[1][c], colourWeight);
        pixel[kAlpha] = interpolate(ends[0][kAlpha], ends[1][kAlpha], alphaWeight);
        // Rotation 1, 2 or 3 swaps alpha with red, green or blue.
        if (rotation != 0) {
            const unsigned swapped = pixel[rotation - 1];
            pixel[rotation - 1] = pixel[kAlpha];
            pixel[kAlpha] = swapped;
        }
        for (unsigned c = 0; c < kBc7Channels; ++c)
            pixels[i][c] = static_cast<unsigned char>(pixel[c]);
    }
}

// One block's sixteen RGBA pixels, row-major.
void decodeBlock(const unsigned char *block, unsigned char pixels[kBc7Pixels][kBc7Channels])
{
    // The mode is the number of zero bits below the lowest set bit of the first byte.
    switch (block[0] == 0 ? kBc7Modes : unsigned(__builtin_ctz(block[0]))) {
    case 0: return decodeMode<0>(block, pixels);
    case 1: return decodeMode<1>(block, pixels);
    case 2: return decodeMode<2>(block, pixels);
    case 3: return decodeMode<3>(block, pixels);
    case 4: return decodeMode<4>(block, pixels);
    case 5: return decodeMode<5>(block, pixels);
    case 6: return decodeMode<6>(block, pixels);
    case 7: return decodeMode<7>(block, pixels);
    default:
        // No mode: reserved, and decoded as transparent black.
        std::memset(pixels, 0, kBc7Pixels * kBc7Channels);
    }
}

} // namespace

void decodeBC7BlocksPlain(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    const std::size_t blocks = len / kBc7BlockBytes;
    constexpr std::size_t rowBytes = 4 * kBc7Channels;
    for (std::size_t b = 0; b < blocks; ++b) {
        unsigned char pixels[kBc7Pixels][kBc7Channels];
        decodeBlock(data + kBc7BlockBytes * b, pixels);
        for (unsigned yo = 0; yo < 4; ++yo)
            std::memcpy(outdata[yo] + rowBytes * b, pixels[4 * yo], rowBytes);
    }
}
