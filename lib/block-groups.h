// The run loop of every vector kernel: a run's blocks decoded a group at a
// time, then the last, partial group staged through a zeroed copy of its
// blocks and scratch rows, of which only its own bytes are copied out, so
// that nothing past the run's whole blocks is read and nothing past its rows
// written. Architecture-neutral: a variant's group function holds its
// intrinsics.
//
// The including file defines VARIANT_TARGET (a target attribute, or nothing)
// before including this header.
#ifndef BLOCK_GROUPS_H
#define BLOCK_GROUPS_H

#ifndef VARIANT_TARGET
#error "define VARIANT_TARGET before including block-groups.h"
#endif

#include "block-decoder.h"

#include <cstddef>
#include <cstring>

namespace {

// A group: decodes GroupBlocks blocks at `in` into the planes at byte `emit`.
typedef void (*BlockGroup)(const unsigned char *in, unsigned char *const outdata[4], std::size_t emit);

// The last, partial group of `rest` blocks at `in`, into the planes at `out`.
template <unsigned GroupBlocks, unsigned BlockBytes, unsigned RowBytes, BlockGroup Group, unsigned Overhang>
VARIANT_TARGET inline void stagedGroup(const unsigned char *in, std::size_t rest, unsigned char *const out[4])
{
    unsigned char staged[GroupBlocks * BlockBytes] = {};
    unsigned char rows[4][GroupBlocks * RowBytes + Overhang];
    unsigned char *const scratch[4] = {rows[0], rows[1], rows[2], rows[3]};
    std::memcpy(staged, in, BlockBytes * rest);
    Group(staged, scratch, 0);
    for (unsigned yo = 0; yo < 4; ++yo)
        std::memcpy(out[yo], rows[yo], RowBytes * rest);
}

// Every whole block of a run through Group, GroupBlocks blocks at a time.
// A group that writes Overhang bytes past its rows (whole 16-byte stores of
// 12-byte RGB rows) runs in place only where a block follows it, whose rows
// overwrite them; the last group always goes through the scratch rows then.
// AdvancePlanes: each group gets the planes at its own rows and emit 0, for
// stores that take no offset register (NEON's interleaving ones, whose
// address then advances with the store); otherwise the planes stay put and
// emit is the group's offset in them, which x86's addressing adds for free.
template <BlockFormat Format, unsigned GroupBlocks, BlockGroup Group, unsigned Overhang = 0, bool AdvancePlanes = false>
VARIANT_TARGET inline void eachGroup(const unsigned char *data, std::size_t len, unsigned char *const outdata[4])
{
    constexpr unsigned blockBytes = blockFormatInfo(Format).blockBytes, rowBytes = 4 * blockFormatInfo(Format).pixelBytes;
    static_assert(Overhang <= rowBytes, "the next block's rows must cover a group's overhang");
    const std::size_t blocks = len / blockBytes;
    // With an overhang, at least one block is left for the staged group.
    constexpr std::size_t kept = Overhang != 0;
    // The two loops differ in their addressing alone; each is the one whose
    // instructions per block were fewest where it is used (callgrind on x86,
    // qemu's count on NEON), by up to a block's instruction. Each takes a
    // copy of the plane addresses, which the stores cannot alias, so that it
    // stays in registers.
    if (AdvancePlanes) {
        unsigned char *planes[4] = {outdata[0], outdata[1], outdata[2], outdata[3]};
        const unsigned char *in = data;
        std::size_t rest = blocks;
        for (; rest >= GroupBlocks + kept; rest -= GroupBlocks, in += GroupBlocks * blockBytes) {
            Group(in, planes, 0);
            for (unsigned char *&plane : planes)
                plane += GroupBlocks * rowBytes;
        }
        if (rest != 0)
            stagedGroup<GroupBlocks, blockBytes, rowBytes, Group, Overhang>(in, rest, planes);
    } else {
        const std::size_t inPlace = blocks < kept ? 0 : blocks - kept;
        const std::size_t whole = inPlace - inPlace % GroupBlocks;
        unsigned char *const planes[4] = {outdata[0], outdata[1], outdata[2], outdata[3]};
        for (std::size_t b = 0; b < whole; b += GroupBlocks)
            Group(data + blockBytes * b, planes, rowBytes * b);
        if (const std::size_t rest = blocks - whole) {
            unsigned char *const out[4] = {outdata[0] + rowBytes * whole, outdata[1] + rowBytes * whole,
                                           outdata[2] + rowBytes * whole, outdata[3] + rowBytes * whole};
            stagedGroup<GroupBlocks, blockBytes, rowBytes, Group, Overhang>(data + blockBytes * whole, rest, out);
        }
    }
}

} // namespace

#endif
