"""The pixels of a plan: each block row decoded as it is read, by the
extension module's function its format's row names (_dxt1 and _dxt1a for
DXT1 under the design rule, as always; else _bcn), then put in the pixel
mode and sample type asked for: 8-bit rows of 8-bit planes by the
conversions below, as always; every other pair through _pixels, one call a
block row."""
import math
import struct

import _bcn
import _dxt1
import _dxt1a
import _pixels

from .formats import PIXEL_MODES, REARRANGED, Layout, fields_of, sample_bytes
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
    """(decode, its Decoding) for a Format, as its row in the format table
    says, for pixels of `mode` under `rule`."""
    decoding = fmt.encoding.decoding_for(mode, rule)
    function = getattr(MODULES[decoding.module], decoding.function)
    arguments = (fmt.signed,) if decoding.signed else ()
    options = {'rule': rule} if decoding.rule else {}
    if not arguments and not options:
        return function, decoding
    return (lambda data: function(data, *arguments, **options)), decoding


def rgb_of_rgba(row, pixels):
    out = bytearray(3 * pixels)
    for c in range(3):
        out[c::3] = row[c::4]
    return bytes(out)


def spread_grey(row, pixels, mode):
    """L pixels as RGB (three copies) or RGBA (alpha 255)."""
    size = PIXEL_MODES[mode].pixel_bytes()
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
    size = PIXEL_MODES[mode].pixel_bytes()
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


def rows(plan, read_at, mode='RGB', rule='design', normal_map=False, premultiplied=False, dtype='uint8'):
    """The image rows, cropped to the width, layer after layer, in `mode`:
    'RGB', 'RGBA' (alpha full where the format has none), 'L' or 'LA' (grey
    formats), of `dtype` samples (a SAMPLE_TYPES key, native byte order); a
    grey value is red, green and blue; BC5 is red and green, blue 0 (128
    signed) or, with `normal_map`, the z of the unit normal (at 8 bits,
    then widened). Colours stored premultiplied by alpha are divided by it
    (at 8 bits), unless `premultiplied` asks for them as stored.
    read_at(offset, size) returns `size` bytes of the input, as a
    bytes-like object."""
    texture = plan.texture
    order = REARRANGED.get(texture.format.encoding.name)
    straight = texture.premultiplied and not premultiplied and 'RGBA' in texture.format.encoding.png_modes
    if not order and not (straight and mode in ('RGB', 'RGBA')):
        return stored_rows(plan, read_at, mode, rule, normal_map, dtype)
    eight = put_in_place(plan, read_at, mode, rule, normal_map, order, straight)
    return eight if dtype == 'uint8' else widened_bytes(eight, plan.width, mode, dtype)


def put_in_place(plan, read_at, mode, rule, normal_map, order, straight):
    """From the decoder's 8-bit RGBA: the channels put in place, then the
    colours divided by alpha."""
    for row in stored_rows(plan, read_at, 'RGBA', rule, normal_map, 'uint8'):
        if order:
            row = rearranged(row, plan.width, order, 'RGBA')
        if straight:
            row = unpremultiplied(row, plan.width)
        yield row if mode == 'RGBA' else rearranged(row, plan.width, (0, 1, 2), mode)


def widened_bytes(rows_of_bytes, pixels, mode, dtype):
    """8-bit rows of `mode` as `dtype` samples, one _pixels call a row."""
    channels = PIXEL_MODES[mode].channels
    for row in rows_of_bytes:
        yield _pixels.decodePixels(row, pixels, 1, len(row), 8 * channels, fields_of('unorm', 8, channels), dtype)


def stored_rows(plan, read_at, mode, rule, normal_map, dtype):
    """rows() of the pixels as the format stores them."""
    fmt = plan.texture.format
    if isinstance(fmt.encoding.decoding, Layout):
        # What the input gives, as the modules take it (under Python 2 a bytearray as a buffer).
        return surface_rows(plan, lambda offset, size: window(read_at(offset, size), 0, size), mode, READ_SIZE,
                            dtype)
    decode, decoding = decoder(fmt, mode, rule)
    native = decoding.channels
    # Red and green alone are the x and y of a normal map's normals.
    normal_z = normal_z_table(fmt.signed) if native == 'RG' and normal_map else None
    blocks = block_rows(plan, read_at, decode)
    if decoding.sample == 'uint8' and (dtype == 'uint8' or normal_z is not None):
        convert = None if native == mode else CONVERSIONS[native, mode]
        bytes_rows = byte_rows(blocks, plan.width, native, mode, convert, normal_z, fmt.signed)
        if dtype == 'uint8':
            return (row for planes, count in bytes_rows for row in planes[:count])
        # A normal map's 8-bit pixels, widened.
        return widened_rows(bytes_rows, plan.width, sample_fields(mode, 'uint8', False, mode), dtype, False)
    signed = fmt.signed and decoding.sample == 'uint8'
    return widened_rows(blocks, plan.width, sample_fields(native, decoding.sample, signed, mode), dtype, signed)


def byte_rows(blocks, pixels, native, mode, convert, normal_z, signed):
    """8-bit planes in `mode`, cropped, as (rows, count) like block_rows()."""
    width_bytes = PIXEL_MODES[native].pixel_bytes() * pixels
    for planes, count in blocks:
        cropped = [plane if len(plane) == width_bytes else plane[:width_bytes] for plane in planes[:count]]
        if convert is not None:
            cropped = [convert(row, pixels, mode, normal_z, signed) for row in cropped]
        yield cropped, count


def sample_fields(native, sample, signed, mode):
    """_pixels' fields that take pixels of `native` channels of `sample`
    samples (signed: two's complement) to `mode`: grey spread to red, green
    and blue, a missing colour 0, a missing alpha full."""
    source, target = PIXEL_MODES[native], PIXEL_MODES[mode]
    bits = 8 * sample_bytes(sample)
    kind = 'float' if sample.startswith('float') else 'snorm' if signed else 'unorm'
    colours = source.channels - source.alpha
    fields = []
    for c in range(target.channels):
        if target.alpha and c == target.channels - 1:
            fields.append((kind, bits * (source.channels - 1), bits) if source.alpha else ('one',))
        elif colours == 1 or c < colours:
            fields.append((kind, bits * min(c, colours - 1), bits))
        else:
            fields.append(('zero',))
    return tuple(fields), bits * source.channels


# The two's complement byte of each signed value's 8-bit byte (see
# signed_byte): _pixels reads signed samples as two's complement.
TWOS_COMPLEMENT = bytes(bytearray(SIGNED_VALUE.get(b, 127 if b > 128 else -127) & 0xff for b in range(256)))


def widened_rows(blocks, pixels, layout, dtype, signed):
    """The rows of `blocks` ((planes, count) pairs; signed: of signed
    values' bytes) as `dtype` samples, through one _pixels call a block row."""
    fields, pixel_bits = layout
    row_size = len(fields) * sample_bytes(dtype) * pixels
    for planes, count in blocks:
        data = b''.join(planes[:count])
        if signed:
            data = data.translate(TWOS_COMPLEMENT)
        out = _pixels.decodePixels(data, pixels, count, len(planes[0]), pixel_bits, fields, dtype)
        for y in range(count):
            yield out[y * row_size:(y + 1) * row_size]


# A full alpha sample of each type, in native byte order.
FULL_ALPHA = {'uint8': b'\xff', 'uint16': b'\xff\xff', 'float16': struct.pack('=H', 0x3C00),
              'float32': struct.pack('=f', 1.0)}


def png_mode(plan, read_at, opaque=False, rule='design', dtype='uint8'):
    """The pixel mode of the plan's PNG, of those its format's row gives: the
    first; or, where a second (with alpha) follows it, that one when any
    pixel's alpha is below full in `dtype` (unless `opaque`). Reads the
    input through read_at as rows() does, holding one block row at a time."""
    modes = plan.texture.format.encoding.png_modes
    if opaque or len(modes) == 1:
        return modes[0]
    size, full = sample_bytes(dtype), FULL_ALPHA[dtype]
    stride = PIXEL_MODES[modes[1]].pixel_bytes(dtype)
    alpha = stride - size  # alpha is the last channel
    opaque_rows = [full[k:k + 1] * plan.width for k in range(size)]
    for row in rows(plan, read_at, modes[1], rule, premultiplied=True, dtype=dtype):
        if any(row[alpha + k::stride] != opaque_rows[k] for k in range(size)):
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
