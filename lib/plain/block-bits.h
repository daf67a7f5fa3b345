// The bits of a 128-bit block (BC6H, BC7), read from the lowest up: the
// plain decoders' one reader of their fields.
#ifndef PLAIN_BLOCK_BITS_H
#define PLAIN_BLOCK_BITS_H

#include <cstdint>

namespace {

class BitReader {
public:
    explicit BitReader(const unsigned char *block)
    {
        for (unsigned i = 0; i < 8; ++i) {
            low_ |= std::uint64_t(block[i]) << (8 * i);
            high_ |= std::uint64_t(block[8 + i]) << (8 * i);
        }
    }

    // The next `bits` bits (0 to 16), lowest first.
    unsigned read(unsigned bits)
    {
        std::uint64_t window;
        if (position_ >= 64)
            window = high_ >> (position_ - 64);
        else if (position_ == 0)
            window = low_;
        else
            window = low_ >> position_ | high_ << (64 - position_);
        position_ += bits;
        return static_cast<unsigned>(window & ((1u << bits) - 1));
    }

    void skip(unsigned bits) { position_ += bits; }

private:
    std::uint64_t low_ = 0, high_ = 0;
    unsigned position_ = 0;
};

} // namespace

#endif
