#!/usr/bin/env python
"""Convert the top-level surface of a DXT1 DDS file to an 8-bit RGB PNG.

Usage: dds2png.py INPUT.dds OUTPUT.png

The surface is decoded with the _dxt1 module one block row per call, and the
image rows are assembled from the four row planes each call returns. Bad input
is reported in one line on standard error with exit status 2, and no output
file is left behind.
"""
import os
import struct
import sys
import tempfile
import zlib

import _dxt1

HEADER_SIZE = 128           # magic (4 bytes) and the 124-byte header
MAX_DIMENSION = 32768
FOURCC_FLAG = 0x4


class InputError(Exception):
    pass


def read_header(blob):
    """Returns (width, height) of a DXT1 DDS file, or raises InputError."""
    if len(blob) < 4 or blob[:4] != b'DDS ':
        raise InputError('not a DDS file')
    if len(blob) < HEADER_SIZE:
        raise InputError('truncated DDS header')
    size, _flags, height, width = struct.unpack('<4I', blob[4:20])
    pf_size, pf_flags, fourcc = struct.unpack('<2I4s', blob[76:88])
    if size != 124 or pf_size != 32:
        raise InputError('malformed DDS header')
    if not pf_flags & FOURCC_FLAG or fourcc != b'DXT1':
        raise InputError('unsupported pixel format %r, only DXT1 is decoded' % fourcc)
    if width == 0 or height == 0:
        raise InputError('zero image dimension (%dx%d)' % (width, height))
    if width > MAX_DIMENSION or height > MAX_DIMENSION:
        raise InputError('image dimensions %dx%d exceed %d' % (width, height, MAX_DIMENSION))
    return width, height


def decode_rows(blob, width, height):
    """Yields the image's pixel rows as RGB byte strings, cropped to width."""
    blocks_across = (width + 3) // 4
    block_rows = (height + 3) // 4
    row_bytes = blocks_across * 8
    surface_end = HEADER_SIZE + block_rows * row_bytes
    if len(blob) < surface_end:
        raise InputError('truncated surface: %d bytes of %d'
                         % (len(blob) - HEADER_SIZE, surface_end - HEADER_SIZE))
    for m in range(block_rows):
        start = HEADER_SIZE + m * row_bytes
        planes = _dxt1.decodeDXT1(blob[start:start + row_bytes])
        for yo in range(min(4, height - 4 * m)):
            yield planes[yo][:width * 3]


def png_chunk(kind, payload):
    crc = zlib.crc32(kind + payload) & 0xffffffff
    return struct.pack('>I', len(payload)) + kind + payload + struct.pack('>I', crc)


def png_bytes(width, height, rows):
    """An 8-bit RGB PNG of the given rows, each filtered with filter type 0."""
    ihdr = struct.pack('>2I5B', width, height, 8, 2, 0, 0, 0)
    raw = b''.join(b'\x00' + row for row in rows)
    return (b'\x89PNG\r\n\x1a\n' + png_chunk(b'IHDR', ihdr)
            + png_chunk(b'IDAT', zlib.compress(raw, 9)) + png_chunk(b'IEND', b''))


def convert(source, target):
    with open(source, 'rb') as f:
        blob = f.read()
    width, height = read_header(blob)
    png = png_bytes(width, height, decode_rows(blob, width, height))
    # Written beside the target and renamed, so no partial file is left.
    fd, temp = tempfile.mkstemp(dir=os.path.dirname(os.path.abspath(target)), suffix='.tmp')
    try:
        with os.fdopen(fd, 'wb') as f:
            f.write(png)
        umask = os.umask(0)
        os.umask(umask)
        os.chmod(temp, 0o666 & ~umask)
        os.rename(temp, target)
    except BaseException:
        os.unlink(temp)
        raise


def main(argv=None):
    argv = sys.argv if argv is None else argv
    if len(argv) != 3:
        sys.stderr.write('usage: dds2png.py INPUT.dds OUTPUT.png\n')
        return 2
    try:
        convert(argv[1], argv[2])
    except (InputError, IOError, OSError) as e:
        sys.stderr.write('dds2png: %s: %s\n' % (argv[1], e))
        return 2
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
