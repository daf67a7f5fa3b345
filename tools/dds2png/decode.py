"""The pixels of a plan: each block row decoded with _dxt1 as it is read."""
import platform
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


def rows(plan, read_at):
    """The image rows, RGB, cropped to the width, layer after layer.
    read_at(offset, size) returns `size` bytes of the input, as a bytes-like object."""
    width_bytes = 3 * plan.width
    per_read = max(1, READ_SIZE // plan.row_bytes)
    for layer in range(plan.first, plan.first + plan.count):
        offset = plan.texture.layer_offset(plan.level, layer)
        for top in range(0, plan.block_rows, per_read):
            count = min(per_read, plan.block_rows - top)
            data = read_at(offset + top * plan.row_bytes, count * plan.row_bytes)
            for n in range(count):
                planes = _dxt1.decodeDXT1(window(data, n * plan.row_bytes, plan.row_bytes))
                for yo in range(min(4, plan.height - 4 * (top + n))):
                    row = planes[yo]
                    yield row if len(row) == width_bytes else row[:width_bytes]


def decoder_description():
    """The decoder variant this CPU runs, as the dispatcher chose it, and the
    platform the interpreter is built for: `AVX-512, x86-64`."""
    machine, bits = platform.machine().lower(), 8 * struct.calcsize('P')
    if machine in ('x86_64', 'amd64', 'i386', 'i486', 'i586', 'i686'):
        name = 'x86-64' if bits == 64 else '32-bit x86'
    elif machine in ('aarch64', 'arm64', 'armv8l') or machine.startswith('arm'):
        name = '64-bit ARM' if bits == 64 else '32-bit ARM'
    else:
        name = '%s, %d-bit' % (machine or 'unknown machine', bits)
    return '%s, %s' % (_dxt1a.decoder, name)
