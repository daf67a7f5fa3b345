"""The DDS layout: where the DXT1 surfaces of a file are, from its header alone.

Legacy headers (FOURCC "DXT1") and DX10 headers (DXGI formats 70, 71 and
72). Sizes come from the width, height, depth, mip count, array size and
cube flags alone. The errors raised here name no path (None); the reader
of the input puts its own in."""
import struct

from .errors import MalformedError, NotDDSError, NotDXT1Error, TruncatedError, ConversionError

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
# The DX10 header's fifth field: its low three bits are the alpha mode, 3 when the alpha is declared opaque.
DX10_ALPHA_MODE_MASK, DX10_ALPHA_MODE_OPAQUE = 0x7, 3
DXGI_BC1 = {70: 'BC1_TYPELESS', 71: 'BC1_UNORM', 72: 'BC1_UNORM_SRGB'}

FOURCC_FORMATS = {
    b'DXT2': 'DXT2 (BC2)', b'DXT3': 'DXT3 (BC2)', b'DXT4': 'DXT4 (BC3)', b'DXT5': 'DXT5 (BC3)',
    b'ATI1': 'ATI1 (BC4)', b'BC4U': 'BC4U (BC4)', b'BC4S': 'BC4S (BC4)',
    b'ATI2': 'ATI2 (BC5)', b'BC5U': 'BC5U (BC5)', b'BC5S': 'BC5S (BC5)',
}
DXGI_NAMES = dict([(73 + i, 'BC2') for i in range(3)] + [(76 + i, 'BC3') for i in range(3)]
                  + [(79 + i, 'BC4') for i in range(3)] + [(82 + i, 'BC5') for i in range(3)]
                  + [(94 + i, 'BC6H') for i in range(3)] + [(97 + i, 'BC7') for i in range(3)]
                  + [(2, 'R32G32B32A32_FLOAT'), (10, 'R16G16B16A16_FLOAT'), (28, 'R8G8B8A8_UNORM'),
                     (29, 'R8G8B8A8_UNORM_SRGB'), (87, 'B8G8R8A8_UNORM'), (91, 'B8G8R8A8_UNORM_SRGB')])
ONLY_DXT1 = 'only DXT1 (BC1) is decoded'


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
        self.array_layers = 1  # cube faces and array elements, each with its own mip chain
        self.format = 'DXT1'
        self.opaque_alpha = False
        if fourcc == b'DX10':
            if len(header) < DX10_HEADER_END:
                raise TruncatedError(None, 'truncated DX10 header')
            dxgi, dimension, misc, array_size, misc2 = struct.unpack('<5I', header[128:148])
            if dxgi not in DXGI_BC1:
                name = DXGI_NAMES.get(dxgi)
                raise NotDXT1Error(None, 'DX10 header with DXGI format %d%s; %s'
                                   % (dxgi, ' (%s)' % name if name else '', ONLY_DXT1))
            self.format = DXGI_BC1[dxgi]
            self.opaque_alpha = misc2 & DX10_ALPHA_MODE_MASK == DX10_ALPHA_MODE_OPAQUE
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
        elif fourcc != b'DXT1':
            raise NotDXT1Error(None, self.describe_format(fourcc, pf_flags, rgb_bits))
        elif caps2 & DDSCAPS2_CUBEMAP:
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
        if fourcc in FOURCC_FORMATS:
            return '%s data; %s' % (FOURCC_FORMATS[fourcc], ONLY_DXT1)
        if pf_flags & DDPF_FOURCC:
            return 'pixel format with FOURCC %r; %s' % (fourcc.decode('latin-1'), ONLY_DXT1)
        if pf_flags & (DDPF_RGB | DDPF_LUMINANCE):
            kind = 'RGB' if pf_flags & DDPF_RGB else 'luminance'
            return 'uncompressed %d-bit %s data; %s' % (rgb_bits, kind, ONLY_DXT1)
        return 'a pixel format without a FOURCC (flags 0x%x); %s' % (pf_flags, ONLY_DXT1)

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

    @staticmethod
    def surface_bytes(width, height):
        return ((width + 3) // 4) * ((height + 3) // 4) * 8

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
        self.row_bytes = 8 * ((self.width + 3) // 4)  # one block row
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
