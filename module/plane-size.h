// Size of one row plane for an input of `len` bytes: 12 bytes per whole
// 8-byte block, computed so that it cannot overflow the length type.
#ifndef DXT1_PLANE_SIZE_H
#define DXT1_PLANE_SIZE_H

#include <limits>

// Stores 12 * floor(len / 8) in `outlen` and returns true, or returns false
// when that size cannot be represented in `Length`. `len` is never negative.
template <typename Length>
bool rowPlaneLength(Length len, Length &outlen)
{
    const Length blocks = len / 8;
    if (blocks > std::numeric_limits<Length>::max() / 12)
        return false;
    outlen = blocks * 12;
    return true;
}

#endif
