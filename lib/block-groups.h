// The run loop of every vector kernel: a run's blocks decoded a group at a
// time, then the last, partial group staged through a zeroed copy of its
// blocks and scratch rows, of which only its own bytes are copied out, so
// that nothing past the run's whole blocks is read and nothing past its rows
// written. Architecture-neutral: a variant's group function holds its
// intrinsics.
//
// The including file defines DXT1_TARGET (a target attribute, or nothing)
// before including this header.
#ifndef DXT1_BLOCK_GROUPS_H
#define DXT1_BLOCK_GROUPS_H

#ifndef DXT1_TARGET
#error "define DXT1_TARGET before including block-groups.h"
#endif

#include "block-decoder.h"

#include <cstddef>
#include <cstring>

namespace {

// A group: decodes GroupBlocks blocks at `in` into the planes at byte `emit`.
typedef void (*BlockGroup)(const unsigned char *in, unsigned char *const outdata[4], std::size_t emit);

// Every whole block of a run through Group, GroupBlocks blocks at a time.
// A group that writes Overhang bytes past its rows (whole 16-byte stores of
// 12-byte RGB rows) runs in place only where a block follows it, whose rows
// overwrite them; the last group always goes through the scratch rows then.
template <BlockFormat Format, unsigned GroupBlocks, BlockGroup Group, unsigned Overhang = 0>
DXT1_TARGET inline void eachGroup(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    constexpr unsigned blockBytes = blockFormatInfo(Format).blockBytes, rowBytes = 4 * blockFormatInfo(Format).pixelBytes;
    static_assert(Overhang <= rowBytes, "the next block's rows must cover a group's overhang");
    const std::size_t blocks = len / blockBytes;
    // With an overhang, at least one block is left for the staged group.
    const std::size_t inPlace = Overhang == 0 || blocks == 0 ? blocks : blocks - 1;
    const std::size_t whole = inPlace - inPlace % GroupBlocks;
    // A copy of the plane addresses, which the stores cannot alias, stays in registers.
    unsigned char *const planes[4] = {outdata[0], outdata[1], outdata[2], outdata[3]};
    for (std::size_t b = 0; b < whole; b += GroupBlocks)
        Group(data + blockBytes * b, planes, rowBytes * b);
    if (const std::size_t rest = blocks - whole) {
        alignas(32) unsigned char in[GroupBlocks * blockBytes] = {};
        alignas(32) unsigned char rows[4][GroupBlocks * rowBytes + Overhang];
        unsigned char *const scratch[4] = {rows[0], rows[1], rows[2], rows[3]};
        std::memcpy(in, data + blockBytes * whole, blockBytes * rest);
        Group(in, scratch, 0);
        for (unsigned yo = 0; yo < 4; ++yo)
            std::memcpy(outdata[yo] + rowBytes * whole, rows[yo], rowBytes * rest);
    }
}

} // namespace

#endif
