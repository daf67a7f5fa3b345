"""Writes cutout.dds: a 64 x 64 DXT1 texture with transparent pixels, a ring
of colour around a transparent hole, with transparent corners, made block by
block here (image writers' DXT1 encoders drop transparency).

    python samples/make-cutout.py [OUTPUT]      # default: cutout.dds beside this file

Each 4 x 4 block is in DXT1's three-colour mode: both endpoints the block's
colour (first <= second), index 0 for a pixel of the ring and index 3, the
transparent one, for every other. The colour runs from red at the top to
yellow at the bottom and from no blue at the left to some at the right, one
RGB565 colour per block. Runs under Python 2.7 and 3."""
import os
import struct
import sys

SIZE = 64                            # pixels a side
BLOCK = 4                            # pixels a side of a block
OUTER, INNER = 30.0, 14.0            # the ring's radii, in pixels, about the centre
RING_INDEX, TRANSPARENT_INDEX = 0, 3
# The header: the magic, then the 124-byte header with the flags a DXT1
# texture of one level has (caps, height, width, pixel format, linear size),
# then the pixel format's 32 bytes (FourCC flag, "DXT1") and the texture caps.
DDSD_FLAGS, DDPF_FOURCC, DDSCAPS_TEXTURE = 0x81007, 0x4, 0x1000


def rgb565(red, green, blue):
    return (red << 11) | (green << 5) | blue


def block(bx, by):
    """The 8 bytes of the block at column bx, row by."""
    blocks = SIZE // BLOCK
    colour = rgb565(31, 63 * by // (blocks - 1), 15 * bx // (blocks - 1))
    indices = 0
    for y in range(BLOCK):
        for x in range(BLOCK):
            dx = bx * BLOCK + x + 0.5 - SIZE / 2.0
            dy = by * BLOCK + y + 0.5 - SIZE / 2.0
            inside = INNER * INNER <= dx * dx + dy * dy <= OUTER * OUTER
            # Two bits a pixel, the first row in the lowest byte, each row's first pixel in its lowest bits.
            indices |= (RING_INDEX if inside else TRANSPARENT_INDEX) << (2 * (BLOCK * y + x))
    return struct.pack('<2HI', colour, colour, indices)


def texture():
    surface = b''.join(block(bx, by) for by in range(SIZE // BLOCK) for bx in range(SIZE // BLOCK))
    header = struct.pack('<4s7I', b'DDS ', 124, DDSD_FLAGS, SIZE, SIZE, len(surface), 0, 0) + b'\0' * 44
    header += struct.pack('<2I4s5I', 32, DDPF_FOURCC, b'DXT1', 0, 0, 0, 0, 0)
    header += struct.pack('<5I', DDSCAPS_TEXTURE, 0, 0, 0, 0)
    return header + surface


if __name__ == '__main__':
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                                'cutout.dds')
    with open(target, 'wb') as f:
        f.write(texture())
