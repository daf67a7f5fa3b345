"""The DDS layout: where the surfaces of a file are, from its header alone.

Legacy headers (FOURCC "DXT1" to "DXT5", "ATI1", "ATI2" and the "BC4U" to
"BC5S" names) and DX10 headers (the DXGI formats of FORMATS). Sizes come
from the width, height, depth, mip count, array size, cube flags and the
format's block size alone. The errors raised here name no path (None); the reader
of the input puts its own in."""
import collections
import struct

from .errors import ConversionError, MalformedError, NotDDSError, TruncatedError, UnsupportedFormatError

MAGIC = b'DDS '
HEADER_END = 128            # the magic (4 bytes) and the 124-byte header
DX10_HEADER_END = 148       # then the 20-byte DX10 header, when the FOURCC is "DX10"
FOURCC_FIELD = slice(84, 88)
MAX_DIMENSION = 32768       # a side of a texture, as graphics interfaces allow
PNG_MAX_HEIGHT = (1 << 31) - 1

# Header fields.
DDPF_FOURCC, DDPF_RGB, DDPF_LUMINANCE = 0x4, 0x40, 0x20000
DDSCAPS2_CUBEMAP, DDSCAPS2_VOLUME = 0x200, 0x200000
CUBE_FACES = [(0x400, '+X'), (0x800, '-X'), (0x1000, '+Y'), (0x2000, '-Y'), (0x4000, '+Z'), (0x8000, '-Z')]
DX10_TEXTURE3D, DX10_MISC_TEXTURECUBE = 4, 0x4
# The DX10 header's fifth field: its low three bits are the alpha mode:
# 2 when the colours are premultiplied by alpha, 3 when the alpha is declared opaque.
DX10_ALPHA_MODE_MASK, DX10_ALPHA_MODE_PREMULTIPLIED, DX10_ALPHA_MODE_OPAQUE = 0x7, 2, 3


class Format(collections.namedtuple('Format', 'name family signed premultiplied')):
    """A format the converter decodes: its name in the header (a FOURCC, or
    a DXGI name), its block family ('bc1' to 'bc5', 'bc7'), whether its values are
    signed and whether its colours are stored premultiplied by alpha."""
    __slots__ = ()

    @property
    def block_bytes(self):
        return FAMILY_BLOCK_BYTES[self.family]


FAMILY_BLOCK_BYTES = {'bc1': 8, 'bc2': 16, 'bc3': 16, 'bc4': 8, 'bc5': 16, 'bc7': 16}
# The formats decoded, by FOURCC and by DXGI number: one row each.
FOURCC_FORMATS = dict((fourcc.encode('ascii'), Format(fourcc, family, signed, premultiplied))
                      for fourcc, family, signed, premultiplied in [
                          ('DXT1', 'bc1', False, False), ('DXT2', 'bc2', False, True), ('DXT3', 'bc2', False, False),
                          ('DXT4', 'bc3', False, True), ('DXT5', 'bc3', False, False), ('ATI1', 'bc4', False, False),
                          ('BC4U', 'bc4', False, False), ('BC4S', 'bc4', True, False), ('ATI2', 'bc5', False, False),
                          ('BC5U', 'bc5', False, False), ('BC5S', 'bc5', True, False)])
DXGI_FORMATS = dict((number, Format(name, name[:3].lower(), name.endswith('SNORM'), False))
                    for number, name in [
                        (70, 'BC1_TYPELESS'), (71, 'BC1_UNORM'), (72, 'BC1_UNORM_SRGB'),
                        (73, 'BC2_TYPELESS'), (74, 'BC2_UNORM'), (75, 'BC2_UNORM_SRGB'),
                        (76, 'BC3_TYPELESS'), (77, 'BC3_UNORM'), (78, 'BC3_UNORM_SRGB'),
                        (79, 'BC4_TYPELESS'), (80, 'BC4_UNORM'), (81, 'BC4_SNORM'),
                        (82, 'BC5_TYPELESS'), (83, 'BC5_UNORM'), (84, 'BC5_SNORM'),
                        (97, 'BC7_TYPELESS'), (98, 'BC7_UNORM'), (99, 'BC7_UNORM_SRGB')])
# Formats named in messages, though not decoded.
DXGI_NAMES = dict([(94 + i, 'BC6H') for i in range(3)]
                  + [(2, 'R32G32B32A32_FLOAT'), (10, 'R16G16B16A16_FLOAT'), (28, 'R8G8B8A8_UNORM'),
                     (29, 'R8G8B8A8_UNORM_SRGB'), (87, 'B8G8R8A8_UNORM'), (91, 'B8G8R8A8_UNORM_SRGB')])
DECODED = 'only BC1 to BC5 (DXT1 to DXT5, ATI1, ATI2) and BC7 are decoded'


class Texture(object):
    """Where the surfaces of a DDS file are, and their format (a Format),
    from its header alone."""

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
        self.array_layers = 1  # cube faces and array elements, each with its own mip chain
        self.opaque_alpha = False
        if fourcc == b'DX10':
            if len(header) < DX10_HEADER_END:
                raise TruncatedError(None, 'truncated DX10 header')
            dxgi, dimension, misc, array_size, misc2 = struct.unpack('<5I', header[128:148])
            if dxgi not in DXGI_FORMATS:
                name = DXGI_NAMES.get(dxgi)
                raise UnsupportedFormatError(None, 'DX10 header with DXGI format %d%s; %s'
                                             % (dxgi, ' (%s)' % name if name else '', DECODED))
            self.format = DXGI_FORMATS[dxgi]
            alpha_mode = misc2 & DX10_ALPHA_MODE_MASK
            self.opaque_alpha = alpha_mode == DX10_ALPHA_MODE_OPAQUE
            if alpha_mode == DX10_ALPHA_MODE_PREMULTIPLIED:
                self.format = self.format._replace(premultiplied=True)
            self.data_start = DX10_HEADER_END
            self.volume = dimension == DX10_TEXTURE3D
            self.array_layers = max(array_size, 1)  # writers leave 0 for one texture
            if self.volume and self.array_layers != 1:
                raise MalformedError(None, 'malformed DX10 header (an array of %d volume textures)' % array_size)
            if self.volume and misc & DX10_MISC_TEXTURECUBE:
                raise MalformedError(None, 'malformed DX10 header (a volume texture flagged as a cube map)')
            if misc & DX10_MISC_TEXTURECUBE:
                self.cube = True
                self.array_layers *= len(CUBE_FACES)
        elif fourcc not in FOURCC_FORMATS:
            raise UnsupportedFormatError(None, self.describe_format(fourcc, pf_flags, rgb_bits))
        else:
            self.format = FOURCC_FORMATS[fourcc]
        if fourcc != b'DX10' and caps2 & DDSCAPS2_CUBEMAP:
            # The faces stored are those flagged, in the order +X, -X, +Y, -Y, +Z, -Z.
            self.cube = True
            self.array_layers = len([bit for bit, _ in CUBE_FACES if caps2 & bit])
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

    @staticmethod
    def describe_format(fourcc, pf_flags, rgb_bits):
        if pf_flags & DDPF_FOURCC:
            return 'pixel format with FOURCC %r; %s' % (fourcc if str is bytes else fourcc.decode('latin-1'), DECODED)
        if pf_flags & (DDPF_RGB | DDPF_LUMINANCE):
            kind = 'RGB' if pf_flags & DDPF_RGB else 'luminance'
            return 'uncompressed %d-bit %s data; %s' % (rgb_bits, kind, DECODED)
        return 'a pixel format without a FOURCC (flags 0x%x); %s' % (pf_flags, DECODED)

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
        return ((width + 3) // 4) * ((height + 3) // 4) * self.format.block_bytes

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
        # A negative count would reach back into the header (or before it) for pixels.
        if not 0 <= level < texture.levels:
            raise ConversionError(None, 'no mip level %d: the file has %s' % (level, levels_text(texture.levels)))
        count = texture.layers(level)
        if layer is not None and not 0 <= layer < count:
            raise ConversionError(None, 'no layer %d: level %d has %d' % (layer, level, count))
        self.texture, self.level = texture, level
        self.width, self.height = texture.level_size(level)[:2]
        self.first, self.count = (layer, 1) if layer is not None else (0, count)
        if self.height * self.count > PNG_MAX_HEIGHT:
            raise ConversionError(None, '%d layers of %d rows are too tall for a PNG (at most %d rows)'
                                  % (self.count, self.height, PNG_MAX_HEIGHT))
        self.image_height = self.height * self.count
        self.row_bytes = texture.format.block_bytes * ((self.width + 3) // 4)  # one block row
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
