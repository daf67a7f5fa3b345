// Runs a decoder with exactly the memory its contract allows: the input's
// whole blocks of `blockBytes`, and four planes of `rowBytes` bytes a block
// (12 for DXT1's RGB, 16 for RGBA), each ending at a guard
// page (or, with Touching::Start, starting at one). Trailing input bytes are
// counted in `len` but lie past the input's end, where with Touching::End
// the guard page is, so reading them faults too.
#ifndef DXT1_TESTS_GUARDED_DECODE_H
#define DXT1_TESTS_GUARDED_DECODE_H

#include "decoder-variants.h"
#include "guarded-memory.h"

#include <array>
#include <memory>
#include <vector>

// `decode` is a decoder function, or anything called as one.
template <class Decode>
inline std::array<std::vector<unsigned char>, 4> decodeGuarded(Decode decode,
                                                               const std::vector<unsigned char> &input,
                                                               Touching side = Touching::End,
                                                               std::size_t rowBytes = 4 * kRgbBytes,
                                                               std::size_t blockBytes = 8)
{
    const std::size_t blocks = input.size() / blockBytes;
    GuardedBuffer in(blocks * blockBytes, side);
    if (blocks != 0)
        std::memcpy(in.data(), input.data(), blocks * blockBytes);
    std::unique_ptr<GuardedBuffer> planes[4];
    unsigned char *outdata[4];
    for (int i = 0; i < 4; ++i) {
        planes[i].reset(new GuardedBuffer(blocks * rowBytes, side));
        outdata[i] = planes[i]->data();
    }
    decode(in.data(), input.size(), outdata);
    std::array<std::vector<unsigned char>, 4> result;
    for (int i = 0; i < 4; ++i)
        result[i].assign(outdata[i], outdata[i] + blocks * rowBytes);
    return result;
}

#endif
