"""The OpenEXR writer: a single-part scanline file of half or 32-bit float
channels, each block of 16 scan lines compressed with ZIP (zlib), as the
OpenEXR file layout defines it.

The file is the magic number and version, a header of attributes (each a
name, a type name, a size and a value, ended by an empty name), a table of
where each block of scan lines starts, then the blocks: each its first line's
y, its size and its bytes. A block's bytes hold its lines in order, each line
its channels in the order of their names (A, B, G, R; or Y), each channel
its samples left to right, little-endian. ZIP splits those bytes into the
even-numbered ones then the odd-numbered ones, replaces each byte after the
first by its difference from the one before plus 128, and deflates the
result in a zlib stream; a block that would not shrink is stored as it is.
The blocks are deflated by the compressing module's threads, as a PNG's
strips are, each a whole stream of its own.

The rows given are interleaved pixels (R, G, B[, A], or Y alone) in native
byte order, as `read(dtype=...)` gives them; no pixel is touched by a Python
loop: channels are taken apart by array slices and the differences made on
whole blocks at once, as integers."""
import array
import binascii
import collections
import struct
import sys
import zlib

from .compressing import compress_each, threads_for, zlib_header

MAGIC = b'\x76\x2f\x31\x01'
VERSION = 2                 # single-part scan lines: no flag bits set
ZIP_COMPRESSION = 3         # the compression attribute's value for ZIP
LINES_PER_BLOCK = 16        # ZIP's scan lines a block
INCREASING_Y = 0            # the lineOrder attribute's value
# zlib's level unless asked: a 4096 x 4096 file of half floats is twice a
# PNG's bytes; at 4 it converted in 1.7 times the PNG's time (at 6, 2.7).
EXR_COMPRESSION = 4
# Each sample type's pixelType value in the channel list, its bytes and the
# array type code that holds it.
SAMPLE_TYPES = {'float16': (1, 2, 'H'), 'float32': (2, 4, 'f')}
# The channels a pixel holds, in the order the rows give them.
CHANNELS = {'L': 'Y', 'LA': 'YA', 'RGB': 'RGB', 'RGBA': 'RGBA'}


def attribute(name, kind, value):
    return name + b'\0' + kind + b'\0' + struct.pack('<i', len(value)) + value


def header(width, height, names, sample_type):
    pixel_type = SAMPLE_TYPES[sample_type][0]
    channels = b''.join(name.encode('ascii') + b'\0' + struct.pack('<iB3xii', pixel_type, 0, 1, 1)
                        for name in sorted(names)) + b'\0'
    window = struct.pack('<iiii', 0, 0, width - 1, height - 1)
    return (MAGIC + struct.pack('<i', VERSION) +
            attribute(b'channels', b'chlist', channels) +
            attribute(b'compression', b'compression', struct.pack('<B', ZIP_COMPRESSION)) +
            attribute(b'dataWindow', b'box2i', window) +
            attribute(b'displayWindow', b'box2i', window) +
            attribute(b'lineOrder', b'lineOrder', struct.pack('<B', INCREASING_Y)) +
            attribute(b'pixelAspectRatio', b'float', struct.pack('<f', 1.0)) +
            attribute(b'screenWindowCenter', b'v2f', struct.pack('<ff', 0.0, 0.0)) +
            attribute(b'screenWindowWidth', b'float', struct.pack('<f', 1.0)) + b'\0')


if sys.version_info[0] >= 3:
    def to_integer(data):
        return int.from_bytes(data, 'big')

    def to_bytes(value, size):
        return value.to_bytes(size, 'big')
else:
    def to_integer(data):
        return int(binascii.hexlify(data), 16) if data else 0

    def to_bytes(value, size):
        return binascii.unhexlify('%0*x' % (2 * size, value))


MASKS_KEPT = {}  # the masks of the few block sizes a file has, by size


def byte_masks(size):
    """The integers of `size` bytes of 0x80 and of 0x7F, made once a size.
    Each lookup and store is one step, so that conversions in several
    threads share the dict safely."""
    masks = MASKS_KEPT.get(size)
    if masks is None:
        masks = to_integer(b'\x80' * size), to_integer(b'\x7f' * size)
        if len(MASKS_KEPT) >= 4:
            MASKS_KEPT.clear()
        MASKS_KEPT[size] = masks
    return masks


def differences(data):
    """Each byte after the first less the one before it, plus 128, modulo
    256: on one integer of all the bytes, each byte's subtraction kept from
    borrowing from the next by a set top bit (H), the top bits put right
    after, and 128 added by flipping them."""
    size = len(data)
    if size < 2:
        return data
    high, low = byte_masks(size)
    current = to_integer(data)
    before = current >> 8  # each byte's predecessor in its place; 0 before the first
    result = ((current | high) - (before & low)) ^ ((current ^ before) & high)
    return data[:1] + to_bytes(result, size)[1:]


def planar_line(row, channels, code):
    """One line's samples, channel by channel in the order of their names,
    little-endian."""
    samples = array.array(code)
    if hasattr(samples, 'frombytes'):
        samples.frombytes(row)
    else:  # Python 2
        samples.fromstring(row)
    order = sorted(range(len(channels)), key=lambda c: channels[c])
    line = array.array(code)
    for c in order:
        line.extend(samples[c::len(channels)])
    if sys.byteorder == 'big':
        line.byteswap()
    return line.tobytes() if hasattr(line, 'tobytes') else line.tostring()


def write_exr(out, width, height, rows, mode='RGB', sample_type='float16', compression=EXR_COMPRESSION,
              threads=None):
    """Writes `height` rows of `width` pixels of `mode` ('L', 'RGB' or
    'RGBA'), each row's samples of `sample_type` ('float16' or 'float32') in
    native byte order, to the binary file `out`, its blocks compressed at
    zlib level `compression` by at most `threads` threads (None: as many
    as the process may use cores)."""
    channels = CHANNELS[mode]
    code = SAMPLE_TYPES[sample_type][2]
    start = header(width, height, channels, sample_type)
    block_count = (height + LINES_PER_BLOCK - 1) // LINES_PER_BLOCK
    rows = iter(rows)
    waiting, blocks = collections.deque(), []

    def predicted():
        """Each block's bytes, split and differenced as ZIP does, to be deflated."""
        for first in range(0, height, LINES_PER_BLOCK):
            lines = min(LINES_PER_BLOCK, height - first)
            raw = b''.join(planar_line(next(rows), channels, code) for _ in range(lines))
            data = differences(raw[0::2] + raw[1::2])
            waiting.append((first, raw, data))
            yield data, True

    def stored(deflated):
        """A block as ZIP stores it: a zlib stream, or its bytes as they are
        where that is no smaller."""
        first, raw, data = waiting.popleft()
        packed = zlib_header(compression) + deflated + struct.pack('>I', zlib.adler32(data) & 0xffffffff)
        if len(packed) >= len(raw):
            packed = raw
        blocks.append(struct.pack('<ii', first, len(packed)) + packed)
    compress_each(stored, predicted(), compression, threads_for(block_count, threads))
    offsets = []
    position = len(start) + 8 * block_count
    for block in blocks:
        offsets.append(position)
        position += len(block)
    out.write(start)
    out.write(struct.pack('<%dQ' % block_count, *offsets))
    for block in blocks:
        out.write(block)
