"""The pixels of a plan: each block row decoded with _dxt1 as it is read."""
import struct

import _dxt1
import _dxt1a

READ_SIZE = 1 << 18         # bytes asked of the input at a time: whole block rows, at least one

try:
    _buffer = buffer  # Python 2: a window on a bytearray, without a copy

    def window(data, start, size):
        return _buffer(data, start, size)
except NameError:
    def window(data, start, size):
        return data[start:start + size]  # data is a memoryview: a slice copies nothing


# A transparent pixel is (0, 0, 0, 0) and every other pixel's alpha is 255,
# so four zero bytes in a row of RGBA pixels, wherever they start, hold an
# alpha byte of 0: they are found exactly where a pixel is transparent.
TRANSPARENT = b'\0\0\0\0'


def block_rows(plan, read_at, decode):
    """(planes, count) for each block row of the plan, layer after layer:
    decode's four row planes and how many of them are image rows."""
    per_read = max(1, READ_SIZE // plan.row_bytes)
    for layer in range(plan.first, plan.first + plan.count):
        offset = plan.texture.layer_offset(plan.level, layer)
        for top in range(0, plan.block_rows, per_read):
            count = min(per_read, plan.block_rows - top)
            data = read_at(offset + top * plan.row_bytes, count * plan.row_bytes)
            for n in range(count):
                yield decode(window(data, n * plan.row_bytes, plan.row_bytes)), min(4, plan.height - 4 * (top + n))


def rows(plan, read_at, alpha=False):
    """The image rows, cropped to the width, layer after layer: RGB, or with
    `alpha` RGBA, where the three-colour mode's index 3 is transparent.
    read_at(offset, size) returns `size` bytes of the input, as a bytes-like object."""
    width_bytes = (4 if alpha else 3) * plan.width
    for planes, count in block_rows(plan, read_at, _dxt1a.decodeDXT1A if alpha else _dxt1.decodeDXT1):
        for yo in range(count):
            row = planes[yo]
            yield row if len(row) == width_bytes else row[:width_bytes]


def has_transparency(plan, read_at):
    """Whether any pixel of the plan's image is transparent. Reads the input
    through read_at as rows() does, holding one block row at a time."""
    return any(TRANSPARENT in row for row in rows(plan, read_at, alpha=True))


def decoder_description():
    """The decoder variant this CPU runs, as the dispatcher chose it, and the
    platform the interpreter is built for: `AVX-512, x86-64`."""
    import platform  # for --version alone: slow to import
    machine, bits = platform.machine().lower(), 8 * struct.calcsize('P')
    if machine in ('x86_64', 'amd64', 'i386', 'i486', 'i586', 'i686'):
        name = 'x86-64' if bits == 64 else '32-bit x86'
    elif machine in ('aarch64', 'arm64', 'armv8l') or machine.startswith('arm'):
        name = '64-bit ARM' if bits == 64 else '32-bit ARM'
    else:
        name = '%s, %d-bit' % (machine or 'unknown machine', bits)
    return '%s, %s' % (_dxt1a.decoder, name)
