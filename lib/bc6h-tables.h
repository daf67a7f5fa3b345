// BC6H's tables, as the format's definition gives them, written once here and
// read by the plain decoder and by every vector variant. BC6H shares BC7's
// two-subset partition table (its first 32 shapes), its anchor table for
// them and its 3- and 4-bit weight tables (bc7-tables.h).
//
// The sources are the format's published definitions: Direct3D 11's "BC6H
// format" page and the OpenGL extension ARB_texture_compression_bptc, whose
// mode table and per-mode bit layouts are transcribed below in its notation.
#ifndef BC6H_TABLES_H
#define BC6H_TABLES_H

#include "bc7-tables.h"

constexpr unsigned kBc6hBlockBytes = 16;
constexpr unsigned kBc6hModes = 14;
constexpr unsigned kBc6hChannels = 3;     // red, green, blue: the order of the output's halves
constexpr unsigned kBc6hPartitions = 32;  // five partition bits: BC7's first 32 two-subset shapes
constexpr unsigned kBc6hMaxRuns = 24;     // the most runs in one mode's layout (modes 0x01 and 0x1E: 23)
constexpr unsigned kBc6hTwoRegionHeader = 82; // mode, endpoints and partition; 46 index bits follow
constexpr unsigned kBc6hOneRegionHeader = 65; // mode and endpoints; 63 index bits follow

// The endpoint components a layout fills: endpoint e's channel c is 3·e + c.
// Endpoints 0 and 1 are region 0's, 2 and 3 region 1's.
enum Bc6hComponent : unsigned char { R0, G0, B0, R1, G1, B1, R2, G2, B2, R3, G3, B3 };
constexpr unsigned kBc6hComponents = 12;

// One run of a layout, v[a:b] in the extension's notation: the next |a − b| + 1
// bits of the block, the first of them becoming bit b of component v and each
// next one the bit one step toward a. So r0[9:0] is ten bits in order, and
// r0[10:15] six bits whose first is bit 15: reversed.
struct Bc6hRun {
    unsigned char component; // a Bc6hComponent
    unsigned char a, b;
};

// One mode: the mode table's row (number, whether its endpoints are deltas,
// its regions, endpoint bits and each channel's delta bits) and its layout,
// the runs that follow the mode bits.
struct Bc6hMode {
    unsigned char number;      // the low two bits (0 and 1) or five bits of the block
    unsigned char modeBits;    // 2 or 5
    bool transformed;          // endpoints other than the first are deltas from it
    unsigned char regions;     // 2: five partition bits follow the endpoints
    unsigned char endpointBits; // of the first endpoint, and of every endpoint after the transform
    unsigned char deltaBits[kBc6hChannels]; // of each stored component but the first endpoint's
    unsigned char runCount;
    Bc6hRun runs[kBc6hMaxRuns];
};

struct Bc6hTables {
    // The mode table (the extension's Table.MF) with each mode's layout
    // (its Table.F), in the extension's order. Direct3D numbers these modes
    // 1 to 14 in the same order.
    static constexpr Bc6hMode modes[kBc6hModes] = {
        {0x00, 2, true, 2, 10, {5, 5, 5}, 19,
         {{G2, 4, 4}, {B2, 4, 4}, {B3, 4, 4}, {R0, 9, 0}, {G0, 9, 0}, {B0, 9, 0}, {R1, 4, 0}, {G3, 4, 4},
          {G2, 3, 0}, {G1, 4, 0}, {B3, 0, 0}, {G3, 3, 0}, {B1, 4, 0}, {B3, 1, 1}, {B2, 3, 0}, {R2, 4, 0},
          {B3, 2, 2}, {R3, 4, 0}, {B3, 3, 3}}},
        {0x01, 2, true, 2, 7, {6, 6, 6}, 23,
         {{G2, 5, 5}, {G3, 4, 4}, {G3, 5, 5}, {R0, 6, 0}, {B3, 0, 0}, {B3, 1, 1}, {B2, 4, 4}, {G0, 6, 0},
          {B2, 5, 5}, {B3, 2, 2}, {G2, 4, 4}, {B0, 6, 0}, {B3, 3, 3}, {B3, 5, 5}, {B3, 4, 4}, {R1, 5, 0},
          {G2, 3, 0}, {G1, 5, 0}, {G3, 3, 0}, {B1, 5, 0}, {B2, 3, 0}, {R2, 5, 0}, {R3, 5, 0}}},
        {0x02, 5, true, 2, 11, {5, 4, 4}, 18,
         {{R0, 9, 0}, {G0, 9, 0}, {B0, 9, 0}, {R1, 4, 0}, {R0, 10, 10}, {G2, 3, 0}, {G1, 3, 0}, {G0, 10, 10},
          {B3, 0, 0}, {G3, 3, 0}, {B1, 3, 0}, {B0, 10, 10}, {B3, 1, 1}, {B2, 3, 0}, {R2, 4, 0}, {B3, 2, 2},
          {R3, 4, 0}, {B3, 3, 3}}},
        {0x06, 5, true, 2, 11, {4, 5, 4}, 20,
         {{R0, 9, 0}, {G0, 9, 0}, {B0, 9, 0}, {R1, 3, 0}, {R0, 10, 10}, {G3, 4, 4}, {G2, 3, 0}, {G1, 4, 0},
          {G0, 10, 10}, {G3, 3, 0}, {B1, 3, 0}, {B0, 10, 10}, {B3, 1, 1}, {B2, 3, 0}, {R2, 3, 0}, {B3, 0, 0},
          {B3, 2, 2}, {R3, 3, 0}, {G2, 4, 4}, {B3, 3, 3}}},
        {0x0A, 5, true, 2, 11, {4, 4, 5}, 20,
         {{R0, 9, 0}, {G0, 9, 0}, {B0, 9, 0}, {R1, 3, 0}, {R0, 10, 10}, {B2, 4, 4}, {G2, 3, 0}, {G1, 3, 0},
          {G0, 10, 10}, {B3, 0, 0}, {G3, 3, 0}, {B1, 4, 0}, {B0, 10, 10}, {B2, 3, 0}, {R2, 3, 0}, {B3, 1, 1},
          {B3, 2, 2}, {R3, 3, 0}, {B3, 4, 4}, {B3, 3, 3}}},
        {0x0E, 5, true, 2, 9, {5, 5, 5}, 19,
         {{R0, 8, 0}, {B2, 4, 4}, {G0, 8, 0}, {G2, 4, 4}, {B0, 8, 0}, {B3, 4, 4}, {R1, 4, 0}, {G3, 4, 4},
          {G2, 3, 0}, {G1, 4, 0}, {B3, 0, 0}, {G3, 3, 0}, {B1, 4, 0}, {B3, 1, 1}, {B2, 3, 0}, {R2, 4, 0},
          {B3, 2, 2}, {R3, 4, 0}, {B3, 3, 3}}},
        {0x12, 5, true, 2, 8, {6, 5, 5}, 19,
         {{R0, 7, 0}, {G3, 4, 4}, {B2, 4, 4}, {G0, 7, 0}, {B3, 2, 2}, {G2, 4, 4}, {B0, 7, 0}, {B3, 3, 3},
          {B3, 4, 4}, {R1, 5, 0}, {G2, 3, 0}, {G1, 4, 0}, {B3, 0, 0}, {G3, 3, 0}, {B1, 4, 0}, {B3, 1, 1},
          {B2, 3, 0}, {R2, 5, 0}, {R3, 5, 0}}},
        {0x16, 5, true, 2, 8, {5, 6, 5}, 21,
         {{R0, 7, 0}, {B3, 0, 0}, {B2, 4, 4}, {G0, 7, 0}, {G2, 5, 5}, {G2, 4, 4}, {B0, 7, 0}, {G3, 5, 5},
          {B3, 4, 4}, {R1, 4, 0}, {G3, 4, 4}, {G2, 3, 0}, {G1, 5, 0}, {G3, 3, 0}, {B1, 4, 0}, {B3, 1, 1},
          {B2, 3, 0}, {R2, 4, 0}, {B3, 2, 2}, {R3, 4, 0}, {B3, 3, 3}}},
        {0x1A, 5, true, 2, 8, {5, 5, 6}, 21,
         {{R0, 7, 0}, {B3, 1, 1}, {B2, 4, 4}, {G0, 7, 0}, {B2, 5, 5}, {G2, 4, 4}, {B0, 7, 0}, {B3, 5, 5},
          {B3, 4, 4}, {R1, 4, 0}, {G3, 4, 4}, {G2, 3, 0}, {G1, 4, 0}, {B3, 0, 0}, {G3, 3, 0}, {B1, 5, 0},
          {B2, 3, 0}, {R2, 4, 0}, {B3, 2, 2}, {R3, 4, 0}, {B3, 3, 3}}},
        {0x1E, 5, false, 2, 6, {6, 6, 6}, 23,
         {{R0, 5, 0}, {G3, 4, 4}, {B3, 0, 0}, {B3, 1, 1}, {B2, 4, 4}, {G0, 5, 0}, {G2, 5, 5}, {B2, 5, 5},
          {B3, 2, 2}, {G2, 4, 4}, {B0, 5, 0}, {G3, 5, 5}, {B3, 3, 3}, {B3, 5, 5}, {B3, 4, 4}, {R1, 5, 0},
          {G2, 3, 0}, {G1, 5, 0}, {G3, 3, 0}, {B1, 5, 0}, {B2, 3, 0}, {R2, 5, 0}, {R3, 5, 0}}},
        {0x03, 5, false, 1, 10, {10, 10, 10}, 6,
         {{R0, 9, 0}, {G0, 9, 0}, {B0, 9, 0}, {R1, 9, 0}, {G1, 9, 0}, {B1, 9, 0}}},
        {0x07, 5, true, 1, 11, {9, 9, 9}, 9,
         {{R0, 9, 0}, {G0, 9, 0}, {B0, 9, 0}, {R1, 8, 0}, {R0, 10, 10}, {G1, 8, 0}, {G0, 10, 10}, {B1, 8, 0},
          {B0, 10, 10}}},
        {0x0B, 5, true, 1, 12, {8, 8, 8}, 9,
         {{R0, 9, 0}, {G0, 9, 0}, {B0, 9, 0}, {R1, 7, 0}, {R0, 10, 11}, {G1, 7, 0}, {G0, 10, 11}, {B1, 7, 0},
          {B0, 10, 11}}},
        {0x0F, 5, true, 1, 16, {4, 4, 4}, 9,
         {{R0, 9, 0}, {G0, 9, 0}, {B0, 9, 0}, {R1, 3, 0}, {R0, 10, 15}, {G1, 3, 0}, {G0, 10, 15}, {B1, 3, 0},
          {B0, 10, 15}}},
    };
};

// The five low bits of a block name no mode (10011, 10111, 11011, 11111):
// the block decodes to zeros.
constexpr unsigned kBc6hReserved = kBc6hModes;

// The mode table's row of a block whose low five bits are `low5`, or
// kBc6hReserved: two bits name the mode when they are 00 or 01.
constexpr unsigned bc6hModeOf(unsigned low5)
{
    const unsigned number = (low5 & 3u) < 2 ? (low5 & 3u) : low5;
    for (unsigned i = 0; i < kBc6hModes; ++i)
        if (Bc6hTables::modes[i].number == number)
            return i;
    return kBc6hReserved;
}

// The layout's bits in all, checked against the header sizes above.
constexpr unsigned bc6hLayoutBits(unsigned i)
{
    unsigned bits = Bc6hTables::modes[i].modeBits;
    for (unsigned r = 0; r < Bc6hTables::modes[i].runCount; ++r) {
        const Bc6hRun run = Bc6hTables::modes[i].runs[r];
        bits += (run.a > run.b ? run.a - run.b : run.b - run.a) + 1u;
    }
    return bits + (Bc6hTables::modes[i].regions == 2 ? 5u : 0u);
}

constexpr bool bc6hLayoutsFill()
{
    for (unsigned i = 0; i < kBc6hModes; ++i)
        if (bc6hLayoutBits(i) != (Bc6hTables::modes[i].regions == 2 ? kBc6hTwoRegionHeader : kBc6hOneRegionHeader))
            return false;
    return true;
}
static_assert(bc6hLayoutsFill(), "every layout fills its mode's header");

// Each component's width: the first endpoint's channels have the endpoint
// bits, every other stored component its channel's delta bits.
constexpr unsigned bc6hComponentBits(const Bc6hMode &mode, unsigned component)
{
    return component >= 6u * mode.regions ? 0u
           : component < kBc6hChannels    ? mode.endpointBits
                                          : mode.deltaBits[component % kBc6hChannels];
}

// Whether every layout sets each bit of each component once, and no other.
constexpr bool bc6hLayoutsCoverEachBitOnce()
{
    for (unsigned i = 0; i < kBc6hModes; ++i) {
        const Bc6hMode &mode = Bc6hTables::modes[i];
        unsigned long covered[kBc6hComponents] = {};
        for (unsigned r = 0; r < mode.runCount; ++r) {
            const Bc6hRun run = mode.runs[r];
            const unsigned low = run.a < run.b ? run.a : run.b, high = run.a < run.b ? run.b : run.a;
            for (unsigned bit = low; bit <= high; ++bit) {
                if (covered[run.component] >> bit & 1u)
                    return false;
                covered[run.component] |= 1ul << bit;
            }
        }
        for (unsigned c = 0; c < kBc6hComponents; ++c)
            if (covered[c] != (1ul << bc6hComponentBits(mode, c)) - 1u)
                return false;
    }
    return true;
}
static_assert(bc6hLayoutsCoverEachBitOnce(), "every layout sets each component's bits once");

// The block bit that holds bit `bit` of a component in mode's layout.
constexpr unsigned bc6hBlockBit(const Bc6hMode &mode, unsigned component, unsigned bit)
{
    unsigned from = mode.modeBits;
    for (unsigned r = 0; r < mode.runCount; ++r) {
        const Bc6hRun run = mode.runs[r];
        const unsigned low = run.a < run.b ? run.a : run.b, high = run.a < run.b ? run.b : run.a;
        if (run.component == component && bit >= low && bit <= high)
            return from + (run.a >= run.b ? bit - run.b : run.b - bit);
        from += high - low + 1u;
    }
    return ~0u;
}

constexpr bool bc6hEveryBitPlaced()
{
    for (unsigned i = 0; i < kBc6hModes; ++i)
        for (unsigned k = 0; k < kBc6hComponents; ++k)
            for (unsigned bit = 0; bit < bc6hComponentBits(Bc6hTables::modes[i], k); ++bit)
                if (bc6hBlockBit(Bc6hTables::modes[i], k, bit) >= 128)
                    return false;
    return true;
}
static_assert(bc6hEveryBitPlaced(), "every component bit has its block bit");

// Clears the bits that could make a block's endpoints negative in the
// signed form, as encoders leave almost every block of a signed texture
// (benchmarks and tests make such blocks from random ones): each stored
// component's top bit, and with deltas the first endpoint's next bit too,
// so that the first endpoint (below 2^(b − 2)) plus a delta (below
// 2^(d − 1), where d < b) stays below 2^(b − 1).
inline void bc6hClearEndpointSigns(unsigned char *block, const Bc6hMode &mode)
{
    for (unsigned k = 0; k < 6u * mode.regions; ++k) {
        const unsigned bits = bc6hComponentBits(mode, k);
        for (unsigned top = mode.transformed && k < kBc6hChannels ? 2 : 1; top > 0; --top) {
            const unsigned at = bc6hBlockBit(mode, k, bits - top);
            block[at / 8] = static_cast<unsigned char>(block[at / 8] & ~(1u << at % 8));
        }
    }
}

#endif
