"""The DDS layout: the format and the surfaces of a file, from its header alone.

Legacy headers (a FourCC, or the bits of an uncompressed format) and DX10
headers (a DXGI format). Every format is named; DECODED says which this tool
decodes. Sizes come from the width, height, depth, mip count, array size and
cube flags alone. The errors raised here name no path (None); the reader of
the input puts its own in."""
import collections
import struct

from .errors import ConversionError, MalformedError, NotDDSError, TruncatedError, UnsupportedFormatError

MAGIC = b'DDS '
HEADER_END = 128            # the magic (4 bytes) and the 124-byte header
DX10_HEADER_END = 148       # then the 20-byte DX10 header, when the FourCC is "DX10"
FOURCC_FIELD = slice(84, 88)
MAX_DIMENSION = 32768       # a side of a texture, as graphics interfaces allow
PNG_MAX_HEIGHT = (1 << 31) - 1

# Header fields.
DDPF_ALPHA, DDPF_FOURCC, DDPF_RGB, DDPF_LUMINANCE = 0x2, 0x4, 0x40, 0x20000
DDSCAPS2_CUBEMAP, DDSCAPS2_VOLUME = 0x200, 0x200000
CUBE_FACES = [(0x400, '+X'), (0x800, '-X'), (0x1000, '+Y'), (0x2000, '-Y'), (0x4000, '+Z'), (0x8000, '-Z')]
# The DX10 header's resource dimensions: 0 where the writer left it (read as 2D).
DX10_UNKNOWN, DX10_TEXTURE1D, DX10_TEXTURE2D, DX10_TEXTURE3D = 0, 2, 3, 4
DX10_MISC_TEXTURECUBE = 0x4
# The DX10 header's fifth field: its low three bits are the alpha mode:
# 2 when the colours are premultiplied by alpha, 3 when the alpha is declared opaque.
DX10_ALPHA_MODE_MASK, DX10_ALPHA_MODE_PREMULTIPLIED, DX10_ALPHA_MODE_OPAQUE = 0x7, 2, 3
# Legacy FourCCs whose colours are stored premultiplied by alpha.
PREMULTIPLIED_FOURCCS = (b'DXT2', b'DXT4')

# The block encodings, each a 4 x 4 pixel block in so many bytes. BC4 and BC5
# come unsigned (U) and signed (S); BC6H as unsigned and signed half floats.
BLOCK_BYTES = {'BC1': 8, 'BC2': 16, 'BC3': 16, 'BC4U': 8, 'BC4S': 8, 'BC5U': 16, 'BC5S': 16,
               'BC6HU': 16, 'BC6HS': 16, 'BC7': 16}
# The encodings this tool decodes, and the block family each decodes as
# (the decoders of _bcn): the one list of them, which the reader, --info and
# every refusal read.
DECODED = collections.OrderedDict([('BC1', 'bc1'), ('BC2', 'bc2'), ('BC3', 'bc3'), ('BC4U', 'bc4'), ('BC4S', 'bc4'),
                                   ('BC5U', 'bc5'), ('BC5S', 'bc5'), ('BC7', 'bc7')])
SIGNED = ('BC4S', 'BC5S')

# Legacy headers: the FourCCs of block-compressed data and their encodings.
FOURCC_ENCODINGS = {b'DXT1': 'BC1', b'DXT2': 'BC2', b'DXT3': 'BC2', b'DXT4': 'BC3', b'DXT5': 'BC3',
                    b'ATI1': 'BC4U', b'BC4U': 'BC4U', b'BC4S': 'BC4S',
                    b'ATI2': 'BC5U', b'BC5U': 'BC5U', b'BC5S': 'BC5S'}
# DX10 headers: the block-compressed DXGI formats and their encodings
# (TYPELESS read as unsigned), and every other DXGI format's name with its
# bits a pixel; None where a surface's size is not bits a pixel (planar and
# two-pixel video formats).
DXGI_ENCODINGS = {70: 'BC1', 71: 'BC1', 72: 'BC1', 73: 'BC2', 74: 'BC2', 75: 'BC2', 76: 'BC3', 77: 'BC3', 78: 'BC3',
                  79: 'BC4U', 80: 'BC4U', 81: 'BC4S', 82: 'BC5U', 83: 'BC5U', 84: 'BC5S',
                  94: 'BC6HU', 95: 'BC6HU', 96: 'BC6HS', 97: 'BC7', 98: 'BC7', 99: 'BC7'}
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
}


def only_decoded():
    """'only BC1, BC2, BC3, BC4, BC5 and BC7 are decoded', from DECODED."""
    names = sorted(set(family.upper() for family in DECODED.values()))
    if len(names) == 1:
        return 'only %s is decoded' % names[0]
    return 'only %s and %s are decoded' % (', '.join(names[:-1]), names[-1])


class Format(collections.namedtuple('Format', 'name encoding bits dxgi')):
    """A pixel format as a header gives it: `name` ('DXT5', 'BC7_UNORM',
    'uncompressed 32-bit RGB', 'DXGI format 200', "FourCC 'ABCD'"); the
    block `encoding` of its data ('BC3'), or None; else the `bits` a pixel,
    or None where its size is not known here; `dxgi`, the DX10 header's
    number, or None for a legacy header."""
    __slots__ = ()

    @classmethod
    def of_dxgi(cls, number):
        name, bits = DXGI_FORMATS.get(number, ('DXGI format %d' % number, None))
        return cls(name, DXGI_ENCODINGS.get(number), bits, number)

    @classmethod
    def of_legacy(cls, fourcc, pf_flags, rgb_bits):
        if fourcc in FOURCC_ENCODINGS:
            return cls(fourcc.decode('ascii'), FOURCC_ENCODINGS[fourcc], None, None)
        if pf_flags & DDPF_FOURCC:
            number = struct.unpack('<I', fourcc)[0]
            printable = all(32 <= byte < 127 for byte in bytearray(fourcc))
            return cls("FourCC '%s'" % fourcc.decode('ascii') if printable else 'FourCC %d' % number,
                       None, None, None)
        kinds = [(DDPF_RGB, 'RGB'), (DDPF_LUMINANCE, 'luminance'), (DDPF_ALPHA, 'alpha')]
        for flag, kind in kinds:
            if pf_flags & flag:
                return cls('uncompressed %d-bit %s' % (rgb_bits, kind), None, rgb_bits or None, None)
        return cls('a pixel format without a FourCC (flags 0x%x)' % pf_flags, None, None, None)

    @property
    def decoded(self):
        return self.encoding in DECODED

    @property
    def family(self):
        """The block family it decodes as ('bc1' to 'bc5', 'bc7'), or None."""
        return DECODED.get(self.encoding)

    @property
    def signed(self):
        return self.encoding in SIGNED

    def description(self):
        """The name, and a legacy FourCC's encoding: 'DXT5 (BC3)', 'BC4S (BC4)'."""
        if self.dxgi is None and self.encoding:
            family = self.encoding[:-1] if self.encoding[-1] in 'US' else self.encoding  # BC4U -> BC4
            return '%s (%s)' % (self.name, family)
        return self.name

    def refusal(self):
        """What a refusal to decode the format says."""
        only = only_decoded()
        if self.dxgi is not None:
            known = self.dxgi in DXGI_FORMATS
            return 'DX10 header with DXGI format %d%s; %s' % (self.dxgi, ' (%s)' % self.name if known else '', only)
        return '%s data; %s' % (self.description(), only)


class Texture(object):
    """Where the surfaces of a DXT1 DDS file are, from its header alone."""

    def __init__(self, header):
        if len(header) < 4 or header[:4] != MAGIC:
            raise NotDDSError(None, 'not a DDS file')
        if len(header) < HEADER_END:
            raise TruncatedError(None, 'truncated DDS header (%d bytes)' % len(header))
        (size, _flags, height, width, _pitch, depth, levels) = struct.unpack('<7I', header[4:32])
        pf_size, pf_flags, fourcc, rgb_bits = struct.unpack('<2I4sI', header[76:92])
        caps2 = struct.unpack('<I', header[112:116])[0]
        if size != 124 or pf_size != 32:
            raise MalformedError(None, 'malformed DDS header (sizes %d and %d, not 124 and 32)' % (size, pf_size))
        self.data_start = HEADER_END
        self.volume = bool(caps2 & DDSCAPS2_VOLUME)
        self.cube = False
        self.faces = ()  # the names of the cube faces stored, in storage order
        self.array_layers = 1  # cube faces and array elements, each with its own mip chain
        self.opaque_alpha = self.premultiplied = False
        if fourcc == b'DX10':
            if len(header) < DX10_HEADER_END:
                raise TruncatedError(None, 'truncated DX10 header')
            dxgi, dimension, misc, array_size, misc2 = struct.unpack('<5I', header[128:148])
            self.format = Format.of_dxgi(dxgi)
            self.opaque_alpha = misc2 & DX10_ALPHA_MODE_MASK == DX10_ALPHA_MODE_OPAQUE
            self.premultiplied = misc2 & DX10_ALPHA_MODE_MASK == DX10_ALPHA_MODE_PREMULTIPLIED
            self.data_start = DX10_HEADER_END
            if dimension not in (DX10_UNKNOWN, DX10_TEXTURE1D, DX10_TEXTURE2D, DX10_TEXTURE3D):
                raise MalformedError(None, 'malformed DX10 header (resource dimension %d)' % dimension)
            if dimension == DX10_TEXTURE1D and height != 1:
                raise MalformedError(None, 'malformed DX10 header (a 1D texture %d pixels high)' % height)
            self.volume = dimension == DX10_TEXTURE3D
            self.array_layers = max(array_size, 1)  # writers leave 0 for one texture
            if self.volume and self.array_layers != 1:
                raise MalformedError(None, 'malformed DX10 header (an array of %d volume textures)' % array_size)
            if self.volume and misc & DX10_MISC_TEXTURECUBE:
                raise MalformedError(None, 'malformed DX10 header (a volume texture flagged as a cube map)')
            if misc & DX10_MISC_TEXTURECUBE:
                self.cube = True
                self.faces = tuple(name for _, name in CUBE_FACES)
                self.array_layers *= len(CUBE_FACES)
        else:
            self.format = Format.of_legacy(fourcc, pf_flags, rgb_bits)
            self.premultiplied = self.format.encoding is not None and fourcc in PREMULTIPLIED_FOURCCS
            if caps2 & DDSCAPS2_CUBEMAP and self.volume:
                raise MalformedError(None, 'malformed DDS header (a volume texture flagged as a cube map)')
            if caps2 & DDSCAPS2_CUBEMAP:
                # The faces stored are those flagged, in the order +X, -X, +Y, -Y, +Z, -Z.
                self.cube = True
                self.faces = tuple(name for bit, name in CUBE_FACES if caps2 & bit)
                self.array_layers = len(self.faces)
                if not self.array_layers:
                    raise MalformedError(None, 'malformed DDS header (a cube map with no faces)')

        self.width, self.height, self.depth = width, height, max(depth, 1) if self.volume else 1
        if width == 0 or height == 0:
            raise MalformedError(None, 'zero image dimension (%dx%d)' % (width, height))
        if max(width, height, self.depth) > MAX_DIMENSION:
            raise MalformedError(None, 'image dimensions %dx%dx%d exceed %d'
                                 % (width, height, self.depth, MAX_DIMENSION))
        self.levels = max(levels, 1)  # writers leave 0 for one level
        most = max(width, height, self.depth).bit_length()
        if self.levels > most:
            raise MalformedError(None, 'malformed DDS header (%d mip levels; a %dx%d texture has at most %d)'
                                 % (self.levels, width, height, most))

    @property
    def kind(self):
        """'volume', 'cube' (also an array of cubes), 'array' or '2D'."""
        if self.volume:
            return 'volume'
        if self.cube:
            return 'cube'
        return 'array' if self.array_layers > 1 else '2D'

    def level_size(self, level):
        return max(1, self.width >> level), max(1, self.height >> level), max(1, self.depth >> level)

    def surface_bytes(self, width, height):
        """The bytes of one surface of that size; None where the format's size is not known here."""
        if self.format.encoding:
            return ((width + 3) // 4) * ((height + 3) // 4) * BLOCK_BYTES[self.format.encoding]
        if self.format.bits:
            return (width * self.format.bits + 7) // 8 * height
        return None

    def data_bytes(self):
        """The bytes of every surface the header lists, after the header; None where not known here."""
        if self.surface_bytes(1, 1) is None:
            return None
        return self.layer_offset(self.levels, 0) - self.data_start if self.volume else \
            self.layer_offset(0, self.array_layers) - self.data_start

    def layers(self, level):
        """How many 2D layers the level has: volume slices, or cube faces and array elements."""
        return self.level_size(level)[2] if self.volume else self.array_layers

    def layer_offset(self, level, layer):
        """Where the surface of one layer of one level starts. Cube faces and
        array elements each store their whole mip chain in turn; a volume
        stores each level's slices together, level after level."""
        if self.volume:
            before = sum(self.surface_bytes(*self.level_size(n)[:2]) * self.level_size(n)[2] for n in range(level))
            return self.data_start + before + layer * self.surface_bytes(*self.level_size(level)[:2])
        chain = sum(self.surface_bytes(*self.level_size(n)[:2]) for n in range(self.levels))
        before = sum(self.surface_bytes(*self.level_size(n)[:2]) for n in range(level))
        return self.data_start + layer * chain + before


def header_size(start):
    """How many header bytes to read, given the first HEADER_END of them."""
    return DX10_HEADER_END if len(start) == HEADER_END and start[FOURCC_FIELD] == b'DX10' else len(start)


class Plan(object):
    """The image to make: which layers of which level, and the bytes they need."""

    def __init__(self, texture, level, layer):
        if not texture.format.decoded:
            raise UnsupportedFormatError(None, texture.format.refusal())
        # A negative count would reach back into the header (or before it) for pixels.
        if not 0 <= level < texture.levels:
            raise ConversionError(None, 'no mip level %d: the file has %s' % (level, levels_text(texture.levels)))
        count = texture.layers(level)
        if layer is not None and not 0 <= layer < count:
            raise ConversionError(None, 'no layer %d: level %d has %s' % (layer, level, layers_text(count)))
        self.texture, self.level = texture, level
        self.width, self.height = texture.level_size(level)[:2]
        self.first, self.count = (layer, 1) if layer is not None else (0, count)
        if self.height * self.count > PNG_MAX_HEIGHT:
            raise ConversionError(None, '%d layers of %d rows are too tall for a PNG (at most %d rows)'
                                  % (self.count, self.height, PNG_MAX_HEIGHT))
        self.image_height = self.height * self.count
        self.row_bytes = texture.surface_bytes(self.width, 4)  # one block row
        self.block_rows = (self.height + 3) // 4
        self.start = texture.layer_offset(level, self.first)
        self.end = texture.layer_offset(level, self.first + self.count - 1) + self.row_bytes * self.block_rows

    def check_available(self, size):
        """The one size rule: the input, `size` bytes long, holds every byte
        the plan reads. Applied before reading (a file's size) and whenever
        an input ends early (a stream, or a file that shrank)."""
        if size < self.end:
            start = self.texture.data_start
            raise TruncatedError(None, 'truncated surface data: %d bytes of %d'
                                 % (max(0, size - start), self.end - start))


def levels_text(count):
    return 'level 0 only' if count == 1 else 'levels 0 to %d' % (count - 1)


def layers_text(count):
    return 'layer 0 only' if count == 1 else 'layers 0 to %d' % (count - 1)
