"""The format table: one row (an Encoding) for each encoding of pixel data
the converter knows, and the pixel modes its decoders and outputs give.
Reading a header (dds), decoding (decode), read()'s modes and checks
(library), the PNG writer's colour types (png), --info and every refusal
read it; none of them names a format.

A row holds:
- `name`, as messages name it ('BC4');
- `fourccs`, `dxgi` and `masks`: the legacy FourCCs, DXGI numbers and legacy
  bit-mask layouts ((bits, red, green, blue, alpha masks) of a header
  flagged RGB, luminance or alpha) that name it, each with its flags:
  PREMULTIPLIED, SIGNED, SRGB, TYPELESS (TYPELESS data is read as the
  unsigned kind);
- `block`: the pixels wide and high of a block and its bytes ((4, 4, 8) for
  BC1; an uncompressed layout of 32 bits a pixel is (1, 1, 4));
- `channel`: a Channel, the bits and kind of the format's widest channel
  as stored ('unorm' for BC1's 5- and 6-bit and BC4's interpolated 8-bit
  values; 'float' for BC6H's halves); a PNG is 16-bit by default where
  they hold more than 8 bits or a float;
- `decoding`: a Decoding, the extension module's function that gives the
  row planes of a block row (one a pixel row of the block); a Layout, the
  _pixels fields of a format of whole pixels (LAYOUTS, and the legacy
  layouts mask_layout reads from a header's bit masks); or None where the
  data is named, sized and refused but not decoded; `design`: (mode,
  Decoding) pairs used under the design rule instead, where modules of the
  format's own give that rule (DXT1's _dxt1 and _dxt1a);
- `png_modes`: the PIXEL_MODES its PNG (or OpenEXR file) may take, the
  default first; a second, with alpha, is taken when a pixel's alpha is
  below 255 (below 1.0 at depths past 8 bits);
- `read_modes`: the modes read() gives of it, in any of SAMPLE_TYPES.

Adding a format is one row in ENCODINGS and its decoder in an extension
module. A pixel mode says channels alone; a Decoding says the sample type
of its planes, and decode.rows() gives any of SAMPLE_TYPES from any of them
through _pixels. A row whose decoder yields channels not yet known adds
them to PIXEL_MODES, and their 8-bit conversions to decode.CONVERSIONS. BlockFamily's table
test in test_dds2png.py walks the table and checks each row against the
modules and the reader."""
import collections
import struct

# A code's flags: what the FourCC or DXGI number says beyond the encoding.
PREMULTIPLIED, SIGNED, SRGB, TYPELESS = 1, 2, 4, 8


# The sample types of rows (read()'s `dtype`, _pixels' names): their bytes,
# and whether they are floats. Integers are unsigned and normalised: 0 to 1.
SAMPLE_TYPES = {'uint8': (1, False), 'uint16': (2, False), 'float16': (2, True), 'float32': (4, True)}


def sample_bytes(sample):
    return SAMPLE_TYPES[sample][0]


class PixelMode(collections.namedtuple('PixelMode', 'channels colour_type alpha')):
    """The channels of a pixel of row planes, of read()'s pixels or of a
    PNG: `channels` samples a pixel (of any of SAMPLE_TYPES); its PNG colour
    type, or None where a PNG cannot hold it; `alpha`: its last channel is
    alpha."""
    __slots__ = ()

    def pixel_bytes(self, sample='uint8'):
        return self.channels * sample_bytes(sample)


PIXEL_MODES = {'L': PixelMode(1, 0, False), 'LA': PixelMode(2, 4, True), 'RG': PixelMode(2, None, False),
               'RGB': PixelMode(3, 2, False), 'RGBA': PixelMode(4, 6, True)}
# The bits a PNG's samples may have, by the sample type of its rows.
PNG_DEPTHS = {8: 'uint8', 16: 'uint16'}


class Channel(collections.namedtuple('Channel', 'bits kind')):
    """A format's widest channel as stored: its `bits`, and its `kind`,
    'unorm' or 'float' (signedness is the code's SIGNED flag)."""
    __slots__ = ()

    @property
    def high_range(self):
        """More than 8 bits a channel, or a float: what --info calls HDR."""
        return self.bits > 8 or self.kind == 'float'

    @property
    def png_depth(self):
        """A PNG's bits a sample unless asked for: 16 where 8 would lose some."""
        return 16 if self.high_range else 8


BYTE, HALF = Channel(8, 'unorm'), Channel(16, 'float')


class Decoding(collections.namedtuple('Decoding', 'module function signed rule channels sample')):
    """How a block row decodes: `function` of the extension `module`, called
    as function(blocks[, signed][, rule=rule]), the signedness passed where
    `signed` (it takes one), the colour rule where `rule`; it returns the
    row planes of `channels` pixels (a PIXEL_MODES key) of `sample` samples
    (a SAMPLE_TYPES key; signed 8-bit values as the bytes of their 8-bit
    rule, zero 128), one a pixel row of the block."""
    __slots__ = ()

    def available(self):
        """Whether the module has the function: a build of the modules
        older than the package lacks the newest, and its format is refused
        as not decoded rather than failing half-way."""
        try:
            module = __import__(self.module)
        except ImportError:
            return False
        return hasattr(module, self.function)


class Encoding(collections.namedtuple('Encoding', 'name fourccs dxgi masks block channel decoding design '
                                                  'png_modes read_modes')):
    """One row of the table; the module's docstring says what each field holds."""
    __slots__ = ()

    @property
    def decoded(self):
        return self.decoding is not None and self.decoding.available()

    def decoding_for(self, mode, rule):
        """The Decoding for pixels of `mode` under `rule`."""
        if rule == 'design':
            for design_mode, decoding in self.design:
                if design_mode == mode:
                    return decoding
        return self.decoding


def dxgi_three(first, third):
    """A block format's three DXGI numbers from `first`: TYPELESS, UNORM
    (or UF16), then one with the flag `third` (UNORM_SRGB: SRGB; SNORM or
    SF16: SIGNED)."""
    return ((first, TYPELESS), (first + 1, 0), (first + 2, third))


COLOUR = ('RGB', 'RGBA')  # RGB where every alpha is 255, else RGBA


def colour_block(name, fourccs, dxgi, block_bytes, function, design=()):
    """A format of colour and alpha in 4 x 4 blocks, decoded by _bcn's `function` under either rule."""
    return Encoding(name, fourccs, dxgi, (), (4, 4, block_bytes), BYTE,
                    Decoding('_bcn', function, False, True, 'RGBA', 'uint8'), design, COLOUR, COLOUR)


class Layout(collections.namedtuple('Layout', 'pixel_bits channels fields')):
    """How a surface that is not block-compressed decodes, through _pixels'
    decodePixels: pixels of `pixel_bits` bits; `channels`, what they hold
    ('L', 'LA', 'A', 'RG', 'RGB', 'RGBA', or 'P': an index into the 256
    red, green, blue and alpha entries that precede the surface); `fields`,
    one _pixels field a channel in that order: ('unorm', offset, bits),
    ('float', offset, bits), ('xrbias', offset, 10), ('sharedexp', offset,
    9, exponent offset). A code flagged SIGNED reads its unorm fields as
    snorm. Layouts have no colour rule: both rules give the same pixels."""
    __slots__ = ()
    module = '_pixels'

    def available(self):
        return True  # _pixels is built with the others

    @property
    def channel(self):
        """Its widest channel as stored (1 to 32 bits): a float where any
        field is one, else unorm; a depth past 8 is kept by outputs that hold it."""
        kind = 'unorm' if all(field[0] == 'unorm' for field in self.fields) else 'float'
        return Channel(max(field[2] for field in self.fields), kind)

    def read_as(self, flags):
        """The fields as a code with `flags` reads them."""
        if not flags & SIGNED:
            return self.fields
        return tuple(('snorm',) + field[1:] if field[0] == 'unorm' else field for field in self.fields)


# A layout's PNG modes and read() modes by what its pixels hold. Grey stays
# grey; red and green are RGB, blue 0 (128 where signed); alpha alone is
# black with that alpha.
LAYOUT_MODES = {
    'L': (('L',), ('L', 'RGB', 'RGBA')),
    'LA': (('L', 'LA'), ('L', 'LA', 'RGB', 'RGBA')),
    'A': (COLOUR, COLOUR), 'RG': (('RGB',), COLOUR), 'RGB': (('RGB',), COLOUR), 'RGBA': (COLOUR, COLOUR),
    'P': (COLOUR, COLOUR),
}


def layout(name, dxgi, pixel_bits, channels, fields, fourccs=(), masks=()):
    """A format of whole pixels (R1's eight to a byte), decoded by _pixels."""
    png_modes, read_modes = LAYOUT_MODES[channels]
    block = (8, 1, 1) if pixel_bits == 1 else (1, 1, pixel_bits // 8)
    decoding = Layout(pixel_bits, channels, fields)
    return Encoding(name, fourccs, dxgi, masks, block, decoding.channel, decoding, (),
                    png_modes, read_modes)


def fields_of(kind, bits, count):
    """`count` fields of `bits` bits each, from bit 0 up."""
    return tuple((kind, bits * n, bits) for n in range(count))


def d3d(number):
    """A legacy header's numeric FourCC: a Direct3D 9 format number as four bytes."""
    return struct.pack('<I', number)


# DXGI's integer kinds of one layout: TYPELESS, UNORM, UINT (read as UNORM),
# SNORM and SINT (read as SNORM), each number with its flags.
def integer_kinds(typeless, unorm, uint, snorm, sint):
    return ((typeless, TYPELESS), (unorm, 0), (uint, 0), (snorm, SIGNED), (sint, SIGNED))


LAYOUTS = (
    layout('R32G32B32A32_FLOAT', ((2, 0),), 128, 'RGBA', fields_of('float', 32, 4), ((d3d(116), 0),)),
    layout('R32G32B32A32', ((1, TYPELESS),), 128, 'RGBA', fields_of('unorm', 32, 4)),
    layout('R32G32B32_FLOAT', ((6, 0),), 96, 'RGB', fields_of('float', 32, 3)),
    layout('R32G32B32', ((5, TYPELESS),), 96, 'RGB', fields_of('unorm', 32, 3)),
    layout('R16G16B16A16', integer_kinds(9, 11, 12, 13, 14), 64, 'RGBA', fields_of('unorm', 16, 4),
           ((d3d(36), 0), (d3d(110), SIGNED))),
    layout('R16G16B16A16_FLOAT', ((10, 0),), 64, 'RGBA', fields_of('float', 16, 4), ((d3d(113), 0),)),
    layout('R32G32_FLOAT', ((16, 0),), 64, 'RG', fields_of('float', 32, 2), ((d3d(115), 0),)),
    layout('R32G32', ((15, TYPELESS),), 64, 'RG', fields_of('unorm', 32, 2)),
    layout('R10G10B10A2', ((23, TYPELESS), (24, 0)), 32, 'RGBA',
           (('unorm', 0, 10), ('unorm', 10, 10), ('unorm', 20, 10), ('unorm', 30, 2))),
    layout('R11G11B10_FLOAT', ((26, 0),), 32, 'RGB', (('float', 0, 11), ('float', 11, 11), ('float', 22, 10))),
    layout('R8G8B8A8', ((27, TYPELESS), (28, 0), (29, SRGB), (30, 0), (31, SIGNED), (32, SIGNED)), 32, 'RGBA',
           fields_of('unorm', 8, 4)),
    layout('R16G16', integer_kinds(33, 35, 36, 37, 38), 32, 'RG', fields_of('unorm', 16, 2)),
    layout('R16G16_FLOAT', ((34, 0),), 32, 'RG', fields_of('float', 16, 2), ((d3d(112), 0),)),
    layout('R32_FLOAT', ((41, 0),), 32, 'L', fields_of('float', 32, 1), ((d3d(114), 0),)),
    layout('R32', ((39, TYPELESS),), 32, 'L', fields_of('unorm', 32, 1)),
    layout('R8G8', integer_kinds(48, 49, 50, 51, 52), 16, 'RG', fields_of('unorm', 8, 2)),
    layout('R16', integer_kinds(53, 56, 57, 58, 59), 16, 'L', fields_of('unorm', 16, 1)),
    layout('R16_FLOAT', ((54, 0),), 16, 'L', fields_of('float', 16, 1), ((d3d(111), 0),)),
    layout('R8', integer_kinds(60, 61, 62, 63, 64), 8, 'L', fields_of('unorm', 8, 1)),
    layout('A8', ((65, 0),), 8, 'A', fields_of('unorm', 8, 1)),
    layout('R1', ((66, 0),), 1, 'L', fields_of('unorm', 1, 1)),
    layout('R9G9B9E5_SHAREDEXP', ((67, 0),), 32, 'RGB',
           (('sharedexp', 0, 9, 27), ('sharedexp', 9, 9, 27), ('sharedexp', 18, 9, 27))),
    layout('B5G6R5', ((85, 0),), 16, 'RGB', (('unorm', 11, 5), ('unorm', 5, 6), ('unorm', 0, 5))),
    layout('B5G5R5A1', ((86, 0),), 16, 'RGBA',
           (('unorm', 10, 5), ('unorm', 5, 5), ('unorm', 0, 5), ('unorm', 15, 1))),
    layout('B8G8R8A8', ((87, 0), (90, TYPELESS), (91, SRGB)), 32, 'RGBA',
           (('unorm', 16, 8), ('unorm', 8, 8), ('unorm', 0, 8), ('unorm', 24, 8))),
    layout('B8G8R8X8', ((88, 0), (92, TYPELESS), (93, SRGB)), 32, 'RGB',
           (('unorm', 16, 8), ('unorm', 8, 8), ('unorm', 0, 8))),
    layout('R10G10B10_XR_BIAS_A2', ((89, 0),), 32, 'RGBA',
           (('xrbias', 0, 10), ('xrbias', 10, 10), ('xrbias', 20, 10), ('unorm', 30, 2))),
    layout('B4G4R4A4', ((115, 0),), 16, 'RGBA', (('unorm', 8, 4), ('unorm', 4, 4), ('unorm', 0, 4), ('unorm', 12, 4))),
    layout('A4B4G4R4', ((191, 0),), 16, 'RGBA', (('unorm', 12, 4), ('unorm', 8, 4), ('unorm', 4, 4), ('unorm', 0, 4))),
)
# A legacy header's 8-bit palette: 256 entries of red, green, blue and alpha
# bytes (a palette entry's flags byte), then one index byte a pixel.
PALETTE = layout('8-bit palette', (), 8, 'P', fields_of('unorm', 8, 1))
PALETTE_BYTES = 256 * 4

ENCODINGS = (
    colour_block('BC1', ((b'DXT1', 0),), dxgi_three(70, SRGB), 8, 'decodeBC1',
                 design=(('RGB', Decoding('_dxt1', 'decodeDXT1', False, False, 'RGB', 'uint8')),
                         ('RGBA', Decoding('_dxt1a', 'decodeDXT1A', False, False, 'RGBA', 'uint8')))),
    colour_block('BC2', ((b'DXT2', PREMULTIPLIED), (b'DXT3', 0)), dxgi_three(73, SRGB), 16, 'decodeBC2'),
    colour_block('BC3', ((b'DXT4', PREMULTIPLIED), (b'DXT5', 0)), dxgi_three(76, SRGB), 16, 'decodeBC3'),
    Encoding('BC4', ((b'ATI1', 0), (b'BC4U', 0), (b'BC4S', SIGNED)), dxgi_three(79, SIGNED), (), (4, 4, 8),
             BYTE, Decoding('_bcn', 'decodeBC4', True, True, 'L', 'uint8'), (), ('L',), ('L', 'RGB', 'RGBA')),
    # Red and green; blue 0, or a normal map's z.
    Encoding('BC5', ((b'ATI2', 0), (b'BC5U', 0), (b'BC5S', SIGNED)), dxgi_three(82, SIGNED), (), (4, 4, 16),
             BYTE, Decoding('_bcn', 'decodeBC5', True, True, 'RG', 'uint8'), (), ('RGB',), COLOUR),
    # Three half floats a pixel, no alpha; signed for SF16.
    Encoding('BC6H', (), dxgi_three(94, SIGNED), (), (4, 4, 16), HALF,
             Decoding('_bcn', 'decodeBC6H', True, True, 'RGB', 'float16'), (), ('RGB',), COLOUR),
    colour_block('BC7', (), dxgi_three(97, SRGB), 16, 'decodeBC7'),
    # BC3 with red kept in alpha, for its precision: red is the alpha channel, alpha opaque.
    colour_block('RXGB', ((b'RXGB', 0),), (), 16, 'decodeBC3'),
) + LAYOUTS + (PALETTE,)
# Rows whose decoder's RGBA channels are rearranged: red, green, blue and
# alpha each from a channel's index, or 255 where None.
REARRANGED = {'RXGB': (3, 1, 2, None)}


def codes(field):
    """{code: (row, flags)} for one kind of code (fourccs, dxgi or masks),
    refusing a code that two rows claim."""
    table = {}
    for row in ENCODINGS:
        for code, flags in getattr(row, field):
            if code in table:
                raise ValueError('%s %r names both %s and %s' % (field, code, table[code][0].name, row.name))
            table[code] = (row, flags)
    return table


BY_FOURCC, BY_DXGI, BY_MASKS = codes('fourccs'), codes('dxgi'), codes('masks')
# The modes read() gives, those of any row or of a legacy layout read from its masks.
READ_MODES = tuple(sorted(set(mode for row in ENCODINGS for mode in row.read_modes) |
                          set(mode for _, modes in LAYOUT_MODES.values() for mode in modes)))


def only_decoded():
    """'only BC1, BC2, BC3, BC4, BC5, BC7 and RXGB blocks and uncompressed
    layouts other than video are decoded': what --info and every refusal
    say of the formats not decoded."""
    names = [row.name for row in ENCODINGS if row.decoded and not isinstance(row.decoding, Layout)]
    return 'only %s and %s blocks and uncompressed layouts other than video are decoded' \
        % (', '.join(names[:-1]), names[-1])


MAX_FIELD_BITS = 16  # the widest unorm or snorm field _pixels reads


def mask_field(mask, pixel_bits):
    """The ('unorm', offset, bits) a bit mask selects, or None where it is
    not one run of at most MAX_FIELD_BITS bits inside the pixel."""
    if not mask or mask >> pixel_bits:
        return None
    offset = (mask & -mask).bit_length() - 1
    run = mask >> offset
    if run & (run + 1) or run.bit_length() > MAX_FIELD_BITS:
        return None
    return ('unorm', offset, run.bit_length())


def mask_layout(pixel_bits, kind, masks):
    """The Encoding of a legacy layout of `pixel_bits` (8, 16, 24 or 32)
    given by its bit masks (red, green, blue, alpha; zero where a channel is
    absent): `kind` 'RGB' (red alone is grey, red and green RG), 'L'
    (luminance: the red mask), 'A' (alpha alone). Named by its fields from
    bit 0 up, X for bits no field reads ('B8G8R8A8', 'L8A8', 'B5G6R5');
    None where a mask is not one run of bits inside the pixel or two
    overlap."""
    if pixel_bits not in (8, 16, 24, 32):
        return None
    red, green, blue, alpha = masks
    colour = {'RGB': [red, green, blue], 'L': [red], 'A': []}[kind]
    while colour and not colour[-1]:
        colour.pop()
    used = colour + ([alpha] if alpha else [])
    fields = [mask_field(mask, pixel_bits) for mask in used]
    union = 0
    for mask in used:
        union |= mask
    if not used or None in fields or bin(union).count('1') != sum(bin(mask).count('1') for mask in used):
        return None
    channels = ('L', 'RG', 'RGB')[len(colour) - 1] if colour else ''
    if kind == 'L':
        channels = 'L'
    channels += 'A' if alpha else ''
    if channels in ('RGA', 'LA') and kind != 'L':
        return None  # no layout stores red, green and alpha without blue, or red and alpha alone
    letters = dict(zip(used, ('RGB'[:len(colour)] if kind == 'RGB' else 'L' * len(colour)) + ('A' if alpha else '')))
    name, bit = '', 0
    for mask in sorted(used, key=lambda m: m & -m):
        field = mask_field(mask, pixel_bits)
        if field[1] > bit:
            name += 'X%d' % (field[1] - bit)
        name += '%s%d' % (letters[mask], field[2])
        bit = field[1] + field[2]
    if bit < pixel_bits:
        name += 'X%d' % (pixel_bits - bit)
    return layout(name, (), pixel_bits, channels, tuple(fields))


def reading(mode):
    """The formats read() gives in `mode`: 'BC4'."""
    return ' and '.join(row.name for row in ENCODINGS if mode in row.read_modes)


# Every DXGI format's name with its bits a pixel: None where a surface's
# size is not bits a pixel (blocks, planar and two-pixel video formats).
DXGI_FORMATS = {
    1: ('R32G32B32A32_TYPELESS', 128), 2: ('R32G32B32A32_FLOAT', 128), 3: ('R32G32B32A32_UINT', 128),
    4: ('R32G32B32A32_SINT', 128), 5: ('R32G32B32_TYPELESS', 96), 6: ('R32G32B32_FLOAT', 96),
    7: ('R32G32B32_UINT', 96), 8: ('R32G32B32_SINT', 96), 9: ('R16G16B16A16_TYPELESS', 64),
    10: ('R16G16B16A16_FLOAT', 64), 11: ('R16G16B16A16_UNORM', 64), 12: ('R16G16B16A16_UINT', 64),
    13: ('R16G16B16A16_SNORM', 64), 14: ('R16G16B16A16_SINT', 64), 15: ('R32G32_TYPELESS', 64),
    16: ('R32G32_FLOAT', 64), 17: ('R32G32_UINT', 64), 18: ('R32G32_SINT', 64), 19: ('R32G8X24_TYPELESS', 64),
    20: ('D32_FLOAT_S8X24_UINT', 64), 21: ('R32_FLOAT_X8X24_TYPELESS', 64), 22: ('X32_TYPELESS_G8X24_UINT', 64),
    23: ('R10G10B10A2_TYPELESS', 32), 24: ('R10G10B10A2_UNORM', 32), 25: ('R10G10B10A2_UINT', 32),
    26: ('R11G11B10_FLOAT', 32), 27: ('R8G8B8A8_TYPELESS', 32), 28: ('R8G8B8A8_UNORM', 32),
    29: ('R8G8B8A8_UNORM_SRGB', 32), 30: ('R8G8B8A8_UINT', 32), 31: ('R8G8B8A8_SNORM', 32),
    32: ('R8G8B8A8_SINT', 32), 33: ('R16G16_TYPELESS', 32), 34: ('R16G16_FLOAT', 32), 35: ('R16G16_UNORM', 32),
    36: ('R16G16_UINT', 32), 37: ('R16G16_SNORM', 32), 38: ('R16G16_SINT', 32), 39: ('R32_TYPELESS', 32),
    40: ('D32_FLOAT', 32), 41: ('R32_FLOAT', 32), 42: ('R32_UINT', 32), 43: ('R32_SINT', 32),
    44: ('R24G8_TYPELESS', 32), 45: ('D24_UNORM_S8_UINT', 32), 46: ('R24_UNORM_X8_TYPELESS', 32),
    47: ('X24_TYPELESS_G8_UINT', 32), 48: ('R8G8_TYPELESS', 16), 49: ('R8G8_UNORM', 16), 50: ('R8G8_UINT', 16),
    51: ('R8G8_SNORM', 16), 52: ('R8G8_SINT', 16), 53: ('R16_TYPELESS', 16), 54: ('R16_FLOAT', 16),
    55: ('D16_UNORM', 16), 56: ('R16_UNORM', 16), 57: ('R16_UINT', 16), 58: ('R16_SNORM', 16),
    59: ('R16_SINT', 16), 60: ('R8_TYPELESS', 8), 61: ('R8_UNORM', 8), 62: ('R8_UINT', 8), 63: ('R8_SNORM', 8),
    64: ('R8_SINT', 8), 65: ('A8_UNORM', 8), 66: ('R1_UNORM', 1), 67: ('R9G9B9E5_SHAREDEXP', 32),
    68: ('R8G8_B8G8_UNORM', None), 69: ('G8R8_G8B8_UNORM', None),
    70: ('BC1_TYPELESS', None), 71: ('BC1_UNORM', None), 72: ('BC1_UNORM_SRGB', None),
    73: ('BC2_TYPELESS', None), 74: ('BC2_UNORM', None), 75: ('BC2_UNORM_SRGB', None),
    76: ('BC3_TYPELESS', None), 77: ('BC3_UNORM', None), 78: ('BC3_UNORM_SRGB', None),
    79: ('BC4_TYPELESS', None), 80: ('BC4_UNORM', None), 81: ('BC4_SNORM', None),
    82: ('BC5_TYPELESS', None), 83: ('BC5_UNORM', None), 84: ('BC5_SNORM', None),
    85: ('B5G6R5_UNORM', 16), 86: ('B5G5R5A1_UNORM', 16), 87: ('B8G8R8A8_UNORM', 32), 88: ('B8G8R8X8_UNORM', 32),
    89: ('R10G10B10_XR_BIAS_A2_UNORM', 32), 90: ('B8G8R8A8_TYPELESS', 32), 91: ('B8G8R8A8_UNORM_SRGB', 32),
    92: ('B8G8R8X8_TYPELESS', 32), 93: ('B8G8R8X8_UNORM_SRGB', 32),
    94: ('BC6H_TYPELESS', None), 95: ('BC6H_UF16', None), 96: ('BC6H_SF16', None),
    97: ('BC7_TYPELESS', None), 98: ('BC7_UNORM', None), 99: ('BC7_UNORM_SRGB', None),
    100: ('AYUV', 32), 101: ('Y410', 32), 102: ('Y416', 64), 103: ('NV12', None), 104: ('P010', None),
    105: ('P016', None), 106: ('420_OPAQUE', None), 107: ('YUY2', None), 108: ('Y210', None),
    109: ('Y216', None), 110: ('NV11', None), 111: ('AI44', 8), 112: ('IA44', 8), 113: ('P8', 8),
    114: ('A8P8', 16), 115: ('B4G4R4A4_UNORM', 16), 130: ('P208', None), 131: ('V208', None), 132: ('V408', None),
    191: ('A4B4G4R4_UNORM', 16),
}


# The files the converter writes, by the name --format and convert()'s
# `format` take: the ending that picks it from a target's name. Every other
# module that names or picks a target type reads this.
TARGET_TYPES = collections.OrderedDict([('png', '.png'), ('exr', '.exr')])


def target_type(name):
    """The target type a file name picks by its ending: PNG unless another's."""
    lowered = name.lower()
    for kind, ending in TARGET_TYPES.items():
        if lowered.endswith(ending):
            return kind
    return 'png'
