"""The pixels of a layout surface (a format of whole pixels, not blocks):
rows decoded by _pixels' decodePixels, many to a call, each channel of the
pixel mode asked for taken from one field of the pixel or a constant; a
palette's indices looked up in its entries; and the channels of decoded
8-bit RGBA rows rearranged, or their colours divided by their alpha, by the
same decoder."""
import _pixels

from .formats import PALETTE_BYTES, PIXEL_MODES, SIGNED, fields_of

ONE, ZERO, SIGNED_ZERO = ('one',), ('zero',), ('signedzero',)
RGBA_BYTES = fields_of('unorm', 8, 4)  # an 8-bit RGBA pixel as fields


def fields_for(layout, flags, mode):
    """The _pixels fields that give the channels of `mode` from a Layout
    read with `flags`: grey is red, green and blue; red and green alone
    have blue 0 (an snorm zero where signed); alpha alone is black; alpha
    is the full value where the layout has none."""
    named = dict(zip(layout.channels, layout.read_as(flags)))
    if mode in ('L', 'LA'):
        colour = (named['L'],)
    elif 'L' in named:
        colour = (named['L'],) * 3
    else:
        colour = (named.get('R', ZERO), named.get('G', ZERO), named.get('B', SIGNED_ZERO if flags & SIGNED else ZERO))
    return colour + ((named.get('A', ONE),) if PIXEL_MODES[mode].alpha else ())


def surface_rows(plan, read_at, mode, read_size, dtype='uint8'):
    """The rows of the plan's layout surface in `mode`, layer after layer,
    read about `read_size` bytes at a time (whole rows, at least one) and
    each such strip decoded in one call, which sets up its fields once, to
    `dtype` samples; read_at as decode.rows takes it."""
    fmt = plan.texture.format
    layout, width, row_bytes = fmt.encoding.decoding, plan.width, plan.row_bytes
    if layout.channels == 'P':
        indexed = palette_decoder(bytes(read_at(plan.texture.data_start - PALETTE_BYTES, PALETTE_BYTES)), mode)
        channels = PIXEL_MODES[mode].channels

        def decode(data, count):
            entries = indexed(data, count)  # 8-bit entries; widened where asked
            if dtype == 'uint8':
                return entries
            return _pixels.decodePixels(entries, width, count, channels * width, 8 * channels,
                                        fields_of('unorm', 8, channels), dtype)
    else:
        fields = fields_for(layout, fmt.flags, mode)

        def decode(data, count):
            return _pixels.decodePixels(data, width, count, row_bytes, layout.pixel_bits, fields, dtype)
    size = PIXEL_MODES[mode].pixel_bytes(dtype) * width
    per_read = max(1, read_size // row_bytes)
    for layer in range(plan.first, plan.first + plan.count):
        offset = plan.texture.layer_offset(plan.level, layer)
        for top in range(0, plan.height, per_read):
            count = min(per_read, plan.height - top)
            pixels = decode(read_at(offset + top * row_bytes, count * row_bytes), count)
            for n in range(count):
                yield pixels[n * size:(n + 1) * size]


def palette_decoder(palette, mode):
    """decode(data, count) for an 8-bit palette's rows of indices: each
    channel of `mode` is the indices translated through that channel of the
    entries (red, green, blue, alpha), interleaved."""
    channels = PIXEL_MODES[mode].channels
    tables = [palette[c::4] for c in range(channels)]

    def decode(data, count):
        indices = bytes(data)
        out = bytearray(channels * len(indices))
        for c in range(channels):
            out[c::channels] = indices.translate(tables[c])
        return bytes(out)
    return decode


def rearranged(row, width, order, mode):
    """An 8-bit RGBA row with the channels of `mode` taken from `order`: for
    red, green, blue and alpha in turn, the index of the channel that holds
    it, or None for the full value."""
    fields = tuple(ONE if c is None else RGBA_BYTES[c] for c in order[:PIXEL_MODES[mode].channels])
    return _pixels.decodePixels(row, width, 1, 4 * width, 32, fields, 'uint8')


def unpremultiplied(row, width):
    """An 8-bit RGBA row with each colour c divided by its alpha a:
    min(255, round(c * 255 / a)), and 0 where a is 0."""
    return _pixels.decodePixels(row, width, 1, 4 * width, 32, RGBA_BYTES, 'uint8', True)
