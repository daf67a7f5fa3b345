// Random blocks of each format, for the tests that run every decoder of the
// table against the plain one. Most formats take any bytes; BC7's vector
// kernels group a run's blocks by mode and decode each mode's lanes with code
// of their own, so BC7's blocks come mode by mode as well as mixed, and with
// every partition of its partitioned modes in turn.
#ifndef DXT1_TESTS_BLOCK_SOURCES_H
#define DXT1_TESTS_BLOCK_SOURCES_H

#include "bc6h-tables.h"
#include "bc7-tables.h"
#include "block-decoder.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <random>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// BC7 blocks of random bits under one mode's own bits (mode 0 to 7), or, for
// kMixedBc7Modes, each block's mode drawn anew, a block with no mode (first
// byte 0) among them.
constexpr int kMixedBc7Modes = -1;
inline Bytes randomBc7Blocks(std::mt19937 &rng, std::size_t count, int mode)
{
    Bytes blocks(16 * count);
    for (unsigned char &byte : blocks)
        byte = static_cast<unsigned char>(rng());
    for (std::size_t b = 0; b < count; ++b) {
        const unsigned m = mode >= 0 ? unsigned(mode) : rng() % (kBc7Modes + 1); // kBc7Modes: no mode
        blocks[16 * b] = m == kBc7Modes ? 0 : static_cast<unsigned char>((blocks[16 * b] & ~0u << (m + 1)) | 1u << m);
    }
    return blocks;
}

// BC7 blocks of the partitioned modes, each partition number of each in turn
// under random fields, so that no partition's tables wait on a random draw.
inline Bytes bc7BlocksOfEveryPartition(std::mt19937 &rng, std::size_t count)
{
    const unsigned partitioned[] = {0, 1, 2, 3, 7};
    Bytes blocks;
    for (std::size_t b = 0; b < count; ++b) {
        const unsigned mode = partitioned[b / kBc7Partitions % 5];
        Bytes block = randomBc7Blocks(rng, 1, int(mode));
        const unsigned fields = block[0] | block[1] << 8;
        const unsigned shift = mode + 1, mask = ((1u << Bc7Tables::modes[mode].partitionBits) - 1) << shift;
        const unsigned patched = (fields & ~mask) | ((b % kBc7Partitions) << shift & mask);
        block[0] = static_cast<unsigned char>(patched);
        block[1] = static_cast<unsigned char>(patched >> 8);
        blocks.insert(blocks.end(), block.begin(), block.end());
    }
    return blocks;
}

// One way of making `count` blocks of a format.
struct BlockSource {
    std::string name;
    std::function<Bytes(std::mt19937 &, std::size_t count)> make;
};

// The ways a format's random blocks are made, the most general first.
inline std::vector<BlockSource> blockSources(BlockFormat format)
{
    const std::size_t blockBytes = blockFormatInfo(format).blockBytes;
    const BlockSource randomBytes = {"random bytes", [blockBytes](std::mt19937 &rng, std::size_t count) {
                                         Bytes blocks(blockBytes * count);
                                         for (unsigned char &byte : blocks)
                                             byte = static_cast<unsigned char>(rng());
                                         return blocks;
                                     }};
    switch (format) {
    case BlockFormat::bc1:
    case BlockFormat::bc1a:
    case BlockFormat::bc2:
    case BlockFormat::bc3:
    case BlockFormat::bc4:
    case BlockFormat::bc4s:
    case BlockFormat::bc5:
    case BlockFormat::bc5s:
        return {randomBytes};
    case BlockFormat::bc7: {
        std::vector<BlockSource> sources = {
            {"mixed modes", [](std::mt19937 &rng, std::size_t count) { return randomBc7Blocks(rng, count, kMixedBc7Modes); }},
            // Mostly modes 0 and 1, as the lowest bit decides.
            randomBytes,
            {"every partition", bc7BlocksOfEveryPartition},
        };
        for (int mode = 0; mode < int(kBc7Modes); ++mode)
            sources.push_back({"mode " + std::to_string(mode), [mode](std::mt19937 &rng, std::size_t count) {
                                   return randomBc7Blocks(rng, count, mode);
                               }});
        return sources;
    }
    case BlockFormat::bc6h:
    case BlockFormat::bc6hs: {
        // Random bytes are half two-bit modes; the run through every mode's
        // code (its low two or five bits) gives the fourteen modes alike.
        const BlockSource everyMode = {"every mode", [](std::mt19937 &rng, std::size_t count) {
                                           Bytes blocks(16 * count);
                                           for (std::size_t b = 0; b < count; ++b) {
                                               for (unsigned k = 0; k < 16; ++k)
                                                   blocks[16 * b + k] = static_cast<unsigned char>(rng());
                                               const Bc6hMode &mode = Bc6hTables::modes[b % kBc6hModes];
                                               const unsigned modeMask = (1u << mode.modeBits) - 1;
                                               blocks[16 * b] = static_cast<unsigned char>((blocks[16 * b] & ~modeMask) | mode.number);
                                           }
                                           return blocks;
                                       }};
        // Extreme endpoints: every mode's endpoint bits (below the
        // partition, or the indices) all zeros, all ones, or bytes of 0x7F
        // or 0x80, under random indices and, with two regions, the 32
        // partitions in turn: 0xFFFF and ±0x7FFF endpoints, deltas that
        // wrap and the largest sums in every variant on every run, and
        // every partition's region gather, where random blocks meet these
        // by chance.
        const BlockSource extremeEndpoints = {"extreme endpoints", [everyMode](std::mt19937 &rng, std::size_t count) {
            static const unsigned char fills[] = {0x00, 0xFF, 0x7F, 0x80};
            Bytes blocks = everyMode.make(rng, count);
            for (std::size_t b = 0; b < count; ++b) {
                const unsigned mode = b % kBc6hModes, turn = static_cast<unsigned>(b / kBc6hModes);
                const bool twoRegions = Bc6hTables::modes[mode].regions == 2;
                const unsigned partitionBits = twoRegions ? 5 : 0, modeBits = Bc6hTables::modes[mode].modeBits;
                const unsigned fields = (twoRegions ? kBc6hTwoRegionHeader : kBc6hOneRegionHeader) - partitionBits;
                const unsigned char fill = fills[turn % sizeof fills];
                unsigned char *block = &blocks[16 * b];
                for (unsigned bit = modeBits; bit < fields + partitionBits; ++bit) {
                    // (The partition moves with the mode too, so that runs of a few hundred blocks meet all 32.)
                    const unsigned partition = (turn + 3 * mode) % 32;
                    const unsigned value = bit < fields ? fill >> (bit % 8) & 1 : partition >> (bit - fields) & 1;
                    block[bit / 8] = static_cast<unsigned char>((block[bit / 8] & ~(1u << (bit % 8))) | value << (bit % 8));
                }
            }
            return blocks;
        }};
        // Signed blocks are decoded on the assumption that no endpoint is
        // negative, as in real signed textures, where a lane group proves
        // it; groups that do not are left to the signed form, and a mode
        // whose chunk holds more than a few, and more than a quarter of
        // those seen, goes to it whole from there on. Blocks of
        // every mode without negative endpoints, one in 29 left as it is (a
        // group left over now and then, too few for the signed form to take
        // over, in every variant's groups); and the same for the first half
        // of a run only (the signed form taken over part-way).
        const auto nonNegative = [everyMode](std::mt19937 &rng, std::size_t count, bool (*keep)(std::size_t, std::size_t)) {
            Bytes blocks = everyMode.make(rng, count);
            for (std::size_t b = 0; b < count; ++b)
                if (!keep(b, count))
                    bc6hClearEndpointSigns(&blocks[16 * b], Bc6hTables::modes[b % kBc6hModes]);
            return blocks;
        };
        const BlockSource fewNegative = {"a few negative endpoints", [nonNegative](std::mt19937 &rng, std::size_t count) {
            return nonNegative(rng, count, [](std::size_t b, std::size_t) { return b % 29 == 28; });
        }};
        const BlockSource negativeLater = {"negative endpoints from half-way", [nonNegative](std::mt19937 &rng, std::size_t count) {
            return nonNegative(rng, count, [](std::size_t b, std::size_t count) { return 2 * b >= count; });
        }};
        return {randomBytes, everyMode, extremeEndpoints, fewNegative, negativeLater};
    }
    default:
        ADD_FAILURE() << "no blocks are made for format " << blockFormatInfo(format).name
                      << ": add it to blockSources, or it is tested on nothing";
        return {};
    }
}

#endif
