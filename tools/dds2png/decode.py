"""The pixels of a plan: each block row decoded as it is read, by the
extension module's function its format's row names (_dxt1 and _dxt1a for
DXT1 under the design rule, as always; else _bcn), then put in the pixel
mode asked for."""
import math
import struct

import _bcn
import _dxt1
import _dxt1a

from .formats import PIXEL_MODES, REARRANGED, Layout
from .layouts import rearranged, surface_rows, unpremultiplied

READ_SIZE = 1 << 18         # bytes asked of the input at a time: whole block rows, at least one
MODULES = {'_bcn': _bcn, '_dxt1': _dxt1, '_dxt1a': _dxt1a}  # the extension modules the format table names

try:
    _buffer = buffer  # Python 2: a window on a bytearray, without a copy

    def window(data, start, size):
        return _buffer(data, start, size)
except NameError:
    def window(data, start, size):
        return data[start:start + size]  # data is a memoryview: a slice copies nothing


def block_rows(plan, read_at, decode):
    """(planes, count) for each block row of the plan, layer after layer:
    decode's row planes (one a pixel row of the block) and how many of them
    are image rows."""
    per_read, each = max(1, READ_SIZE // plan.row_bytes), plan.block_height
    for layer in range(plan.first, plan.first + plan.count):
        offset = plan.texture.layer_offset(plan.level, layer)
        for top in range(0, plan.block_rows, per_read):
            count = min(per_read, plan.block_rows - top)
            data = read_at(offset + top * plan.row_bytes, count * plan.row_bytes)
            for n in range(count):
                planes = decode(window(data, n * plan.row_bytes, plan.row_bytes))
                yield planes, min(each, plan.height - each * (top + n))


def decoder(fmt, mode, rule):
    """(decode, the pixel mode of its planes) for a Format, as its row in the
    format table says, for pixels of `mode` under `rule`."""
    decoding = fmt.encoding.decoding_for(mode, rule)
    function = getattr(MODULES[decoding.module], decoding.function)
    arguments = (fmt.signed,) if decoding.signed else ()
    options = {'rule': rule} if decoding.rule else {}
    if not arguments and not options:
        return function, decoding.channels
    return (lambda data: function(data, *arguments, **options)), decoding.channels


def rgb_of_rgba(row, pixels):
    out = bytearray(3 * pixels)
    for c in range(3):
        out[c::3] = row[c::4]
    return bytes(out)


def spread_grey(row, pixels, mode):
    """L pixels as RGB (three copies) or RGBA (alpha 255)."""
    size = PIXEL_MODES[mode].pixel_bytes
    out = bytearray(b'\xff' * (size * pixels))
    for c in range(3):
        out[c::size] = row
    return bytes(out)


# The byte a signed value v (-127 to 127) is decoded to, and back.
def signed_byte(v):
    return ((v + 127) * 255 + 127) // 254


SIGNED_VALUE = dict((signed_byte(v), v) for v in range(-127, 128))
NORMAL_Z_TABLES = {}


def normal_z_table(signed):
    """Blue for every (red, green) byte pair of a BC5 normal map, at
    256 * red + green: the z of a unit normal, round((z + 1) * 127.5), where x
    and y are red and green from -1 to 1 (unsigned: byte/127.5 - 1; signed:
    the value/127). Made once per kind, when first asked for."""
    table = NORMAL_Z_TABLES.get(signed)
    if table is None:
        if signed:
            axis = [SIGNED_VALUE.get(b, 127 if b > 128 else -127) / 127.0 for b in range(256)]
        else:
            axis = [b / 127.5 - 1 for b in range(256)]
        table = bytearray(int(math.floor((math.sqrt(max(0.0, 1 - x * x - y * y)) + 1) * 127.5 + 0.5))
                          for x in axis for y in axis)
        NORMAL_Z_TABLES[signed] = table
    return table


def spread_red_green(row, pixels, mode, normal_z, signed):
    """RG pixels as RGB or RGBA: blue 0 (128, a zero, where `signed`), or
    from `normal_z` (a table by red and green), alpha 255."""
    size = PIXEL_MODES[mode].pixel_bytes
    out = bytearray(b'\xff' * (size * pixels)) if PIXEL_MODES[mode].alpha else bytearray(size * pixels)
    red, green = bytearray(row[0::2]), bytearray(row[1::2])
    out[0::size] = red
    out[1::size] = green
    if normal_z:
        out[2::size] = bytearray(normal_z[256 * r + g] for r, g in zip(red, green))
    elif signed:
        out[2::size] = b'\x80' * pixels  # a signed zero, as the red and green bytes show it
    return bytes(out)


# How the pixels of the row planes become those asked for, by the two pixel
# modes: f(row, pixels, mode, normal_z, signed). A pair not here is a
# KeyError, never a silent guess.
CONVERSIONS = {
    ('RGBA', 'RGB'): lambda row, pixels, mode, normal_z, signed: rgb_of_rgba(row, pixels),
    ('L', 'RGB'): lambda row, pixels, mode, normal_z, signed: spread_grey(row, pixels, mode),
    ('L', 'RGBA'): lambda row, pixels, mode, normal_z, signed: spread_grey(row, pixels, mode),
    ('RG', 'RGB'): spread_red_green,
    ('RG', 'RGBA'): spread_red_green,
}


def rows(plan, read_at, mode='RGB', rule='design', normal_map=False, premultiplied=False):
    """The image rows, cropped to the width, layer after layer, in `mode`:
    'RGB', 'RGBA' (alpha 255 where the format has none), 'L' or 'LA' (grey
    formats); a grey value is red, green and blue; BC5 is red and green,
    blue 0 or, with `normal_map`, the z of the unit normal. Colours stored
    premultiplied by alpha are divided by it, unless `premultiplied` asks
    for them as stored. read_at(offset, size) returns `size` bytes of the
    input, as a bytes-like object."""
    texture = plan.texture
    order = REARRANGED.get(texture.format.encoding.name)
    straight = texture.premultiplied and not premultiplied and 'RGBA' in texture.format.encoding.png_modes
    if not order and not (straight and mode in ('RGB', 'RGBA')):
        for row in stored_rows(plan, read_at, mode, rule, normal_map):
            yield row
        return
    # From the decoder's RGBA: the channels put in place, then the colours divided by alpha.
    for row in stored_rows(plan, read_at, 'RGBA', rule, normal_map):
        if order:
            row = rearranged(row, plan.width, order, 'RGBA')
        if straight:
            row = unpremultiplied(row, plan.width)
        yield row if mode == 'RGBA' else rearranged(row, plan.width, (0, 1, 2), mode)


def stored_rows(plan, read_at, mode, rule, normal_map):
    """rows() of the pixels as the format stores them."""
    fmt = plan.texture.format
    if isinstance(fmt.encoding.decoding, Layout):
        # What the input gives, as the modules take it (under Python 2 a bytearray as a buffer).
        for row in surface_rows(plan, lambda offset, size: window(read_at(offset, size), 0, size), mode, READ_SIZE):
            yield row
        return
    decode, native = decoder(fmt, mode, rule)
    pixels = plan.width
    width_bytes = PIXEL_MODES[native].pixel_bytes * pixels
    convert = None if native == mode else CONVERSIONS[native, mode]
    # Red and green alone are the x and y of a normal map's normals.
    normal_z = normal_z_table(fmt.signed) if native == 'RG' and normal_map else None
    for planes, count in block_rows(plan, read_at, decode):
        for yo in range(count):
            row = planes[yo]
            if len(row) != width_bytes:
                row = row[:width_bytes]
            yield row if convert is None else convert(row, pixels, mode, normal_z, fmt.signed)


def png_mode(plan, read_at, opaque=False, rule='design'):
    """The pixel mode of the plan's PNG, of those its format's row gives: the
    first; or, where a second (with alpha) follows it, that one when any
    pixel's alpha is below 255 (unless `opaque`). Reads the input through
    read_at as rows() does, holding one block row at a time."""
    modes = plan.texture.format.encoding.png_modes
    if opaque or len(modes) == 1:
        return modes[0]
    with_alpha = PIXEL_MODES[modes[1]].channels  # alpha is its last channel
    opaque_row = b'\xff' * plan.width
    for row in rows(plan, read_at, modes[1], rule, premultiplied=True):
        if row[with_alpha - 1::with_alpha] != opaque_row:
            return modes[1]
    return modes[0]


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
