// Size of one row plane for an input of `len` bytes: the bytes a plane takes
// per block (12 for RGB, 16 for RGBA, ...) times the whole blocks of
// `blockBytes` (8 for BC1 and BC4, 16 for the others) in the input, computed so that it cannot overflow
// the length type.
#ifndef PLANE_SIZE_H
#define PLANE_SIZE_H

#include <limits>

// Stores blockRowBytes * floor(len / blockBytes) in `outlen` and returns
// true, or returns false when that size cannot be represented in `Length`.
// `len` is never negative.
template <typename Length>
bool planeLength(Length len, unsigned blockBytes, unsigned blockRowBytes, Length &outlen)
{
    const Length blocks = len / static_cast<Length>(blockBytes);
    if (blocks > std::numeric_limits<Length>::max() / static_cast<Length>(blockRowBytes))
        return false;
    outlen = blocks * static_cast<Length>(blockRowBytes);
    return true;
}

// The planes of 8-byte blocks (BC1, BC4), BlockRowBytes a block.
template <unsigned BlockRowBytes, typename Length>
bool planeLength(Length len, Length &outlen)
{
    return planeLength(len, 8, BlockRowBytes, outlen);
}

// The RGB planes of decodeDXT1Blocks: 12 bytes per block.
template <typename Length>
bool rowPlaneLength(Length len, Length &outlen)
{
    return planeLength<12>(len, outlen);
}

#endif
