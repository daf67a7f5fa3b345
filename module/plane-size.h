// Size of one row plane for an input of `len` bytes: 12 (RGB) or 16 (RGBA)
// bytes per whole 8-byte block, computed so that it cannot overflow the
// length type.
#ifndef DXT1_PLANE_SIZE_H
#define DXT1_PLANE_SIZE_H

#include <limits>

// Stores BlockRowBytes * floor(len / 8) in `outlen` and returns true, or
// returns false when that size cannot be represented in `Length`. `len` is
// never negative.
template <unsigned BlockRowBytes, typename Length>
bool planeLength(Length len, Length &outlen)
{
    const Length blocks = len / 8;
    if (blocks > std::numeric_limits<Length>::max() / static_cast<Length>(BlockRowBytes))
        return false;
    outlen = blocks * static_cast<Length>(BlockRowBytes);
    return true;
}

// The RGB planes of decodeDXT1Blocks: 12 bytes per block.
template <typename Length>
bool rowPlaneLength(Length len, Length &outlen)
{
    return planeLength<12>(len, outlen);
}

#endif
