"""The DDS layout: the format and the surfaces of a file, from its header alone.

Legacy headers (a FourCC, or the bits of an uncompressed format) and DX10
headers (a DXGI format). Every format is named; the format table (formats)
says which this tool decodes and how. Sizes come from the width, height,
depth, mip count, array size and cube flags alone. The errors raised here
name no path (None); the reader of the input puts its own in."""
import collections
import struct

from .errors import ConversionError, MalformedError, NotDDSError, TruncatedError, UnsupportedFormatError
from .formats import (BY_DXGI, BY_FOURCC, BY_MASKS, DXGI_FORMATS, PALETTE, PALETTE_BYTES, PREMULTIPLIED, SIGNED,
                      mask_layout, only_decoded)

MAGIC = b'DDS '
HEADER_END = 128            # the magic (4 bytes) and the 124-byte header
HEADER_SIZE, PIXEL_FORMAT_SIZE = 124, 32  # what the header's two size fields should say
DX10_HEADER_END = 148       # then the 20-byte DX10 header, when the FourCC is "DX10"
FOURCC_FIELD = slice(84, 88)
MAX_DIMENSION = 32768       # a side of a texture, as graphics interfaces allow
PNG_MAX_HEIGHT = (1 << 31) - 1

# Header fields.
DDPF_ALPHAPIXELS, DDPF_ALPHA, DDPF_FOURCC, DDPF_RGB, DDPF_LUMINANCE = 0x1, 0x2, 0x4, 0x40, 0x20000
DDPF_PALETTEINDEXED8, DDPF_YUV, DDPF_BUMPDUDV = 0x20, 0x200, 0x80000
# A legacy pixel format's kinds, by their flags, as its bit masks are read.
DDPF_KINDS = ((DDPF_RGB, 'RGB', 'RGB'), (DDPF_LUMINANCE, 'L', 'luminance'), (DDPF_BUMPDUDV, 'RGB', 'signed du/dv'),
              (DDPF_ALPHA, 'A', 'alpha'))
DDPF_ANY_KIND = DDPF_FOURCC | DDPF_PALETTEINDEXED8 | DDPF_YUV | sum(flag for flag, _, _ in DDPF_KINDS)
# The masks of a writer that left them zero: the common layout of each size.
COMMON_MASKS = {16: (0xF800, 0x07E0, 0x001F, 0), 24: (0xFF0000, 0xFF00, 0xFF, 0), 32: (0xFF0000, 0xFF00, 0xFF, 0)}
# The masks an old writer gave 10-10-10-2 pixels whose red is in the low bits.
SWAPPED_10_10_10_2 = (0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000)
# Video layouts, which stay refused: DXGI's YUV formats and the legacy FourCCs of the same.
VIDEO_DXGI = frozenset(list(range(100, 111)) + [68, 69, 130, 131, 132])
VIDEO_NAMES = frozenset(["FourCC '%s'" % code for code in ('YUY2', 'UYVY', 'YVYU', 'NV12', 'YV12', 'AYUV', 'Y410',
                                                             'Y416', 'RGBG', 'GRGB')])
DDSCAPS2_CUBEMAP, DDSCAPS2_VOLUME = 0x200, 0x200000
CUBE_FACES = [(0x400, '+X'), (0x800, '-X'), (0x1000, '+Y'), (0x2000, '-Y'), (0x4000, '+Z'), (0x8000, '-Z')]
# The DX10 header's resource dimensions: 0 where the writer left it (read as 2D).
DX10_UNKNOWN, DX10_TEXTURE1D, DX10_TEXTURE2D, DX10_TEXTURE3D = 0, 2, 3, 4
DX10_MISC_TEXTURECUBE = 0x4
# The DX10 header's fifth field: its low three bits are the alpha mode:
# 2 when the colours are premultiplied by alpha, 3 when the alpha is declared opaque.
DX10_ALPHA_MODE_MASK, DX10_ALPHA_MODE_PREMULTIPLIED, DX10_ALPHA_MODE_OPAQUE = 0x7, 2, 3


class Format(collections.namedtuple('Format', 'name encoding bits dxgi flags')):
    """A pixel format as a header gives it: `name` ('DXT5', 'BC7_UNORM',
    'uncompressed 32-bit RGB', 'DXGI format 200', "FourCC 'ABCD'"); the
    `encoding` of its data (a row of the format table), or None; else the
    `bits` a pixel, or None where its size is not known here; `dxgi`, the
    DX10 header's number, or None for a legacy header; the `flags` its code
    carries in the table (PREMULTIPLIED, SIGNED, SRGB, TYPELESS)."""
    __slots__ = ()

    @classmethod
    def of_dxgi(cls, number):
        name, bits = DXGI_FORMATS.get(number, ('DXGI format %d' % number, None))
        encoding, flags = BY_DXGI.get(number, (None, 0))
        return cls(name, encoding, bits, number, flags)

    @classmethod
    def of_legacy(cls, fourcc, pf_flags, rgb_bits, masks=(0, 0, 0, 0)):
        """From the pixel format's FourCC, flags, bits and bit masks (red,
        green, blue, alpha): a FourCC the table knows whatever the flags say;
        else a layout read from the masks, of the kind the flags say."""
        number = struct.unpack('<I', fourcc)[0]
        printable = all(32 <= byte < 127 for byte in bytearray(fourcc))
        code = "FourCC '%s'" % fourcc.decode('ascii') if printable else 'FourCC %d' % number
        if fourcc in BY_FOURCC:
            row, flags = BY_FOURCC[fourcc]
            if printable:
                return cls(fourcc.decode('ascii'), row, None, None, flags)
            # A Direct3D 9 number names a layout: say which.
            return cls('%s (%s%s)' % (code, row.name, ', signed' if flags & SIGNED else ''), row,
                       row.decoding.pixel_bits, None, flags)
        if pf_flags & DDPF_FOURCC:
            return cls(code, None, None, None, 0)
        if pf_flags & DDPF_YUV:
            return cls('uncompressed %d-bit YUV' % rgb_bits, None, None, None, 0)
        if pf_flags & DDPF_PALETTEINDEXED8:
            return cls('uncompressed 8-bit palette', PALETTE, 8, None, 0)
        for flag, kind, text in DDPF_KINDS:
            if pf_flags & flag:
                red, green, blue, alpha = masks
                if not pf_flags & (DDPF_ALPHAPIXELS | DDPF_ALPHA | DDPF_BUMPDUDV):
                    alpha = 0  # the alpha mask counts where a flag says the pixels have alpha
                encoding = BY_MASKS.get((rgb_bits, red, green, blue, alpha), (None,))[0] or \
                    mask_layout(rgb_bits, kind, (red, green, blue, alpha))
                name = 'uncompressed %d-bit %s' % (rgb_bits, text)
                return cls('%s (%s)' % (name, encoding.name) if encoding else name, encoding,
                           rgb_bits or None, None, SIGNED if flag == DDPF_BUMPDUDV else 0)
        return cls('a pixel format without a FourCC (flags 0x%x)' % pf_flags, None, None, None, 0)

    @property
    def decoded(self):
        return self.encoding is not None and self.encoding.decoded

    @property
    def signed(self):
        return bool(self.flags & SIGNED)

    def description(self):
        """The name, and a legacy FourCC's encoding: 'DXT5 (BC3)', 'BC4S (BC4)'."""
        if self.dxgi is None and self.encoding and self.bits is None:
            return '%s (%s)' % (self.name, self.encoding.name)
        return self.name

    @property
    def video(self):
        return self.dxgi in VIDEO_DXGI or self.name in VIDEO_NAMES or self.name.endswith('-bit YUV')

    def refusal(self):
        """What a refusal to decode the format says."""
        only = 'video layouts (YUV) are not decoded' if self.video else only_decoded()
        if self.dxgi is not None:
            known = self.dxgi in DXGI_FORMATS
            return 'DX10 header with DXGI format %d%s; %s' % (self.dxgi, ' (%s)' % self.name if known else '', only)
        return '%s data; %s' % (self.description(), only)


class Texture(object):
    """Where the surfaces of a DDS file are, from its header, and where the
    header is plainly wrong as real writers leave it, how it was read:
    `mended`, one phrase a mend ('header size 24 read as 124'). `file_bytes`,
    the bytes of the whole input where known, lets the mends that need the
    data's size be made: a DX10 cube's array size that counts faces, a mip
    count larger than the data holds."""

    def __init__(self, header, file_bytes=None):
        if len(header) < 4 or header[:4] != MAGIC:
            raise NotDDSError(None, 'not a DDS file')
        if len(header) < HEADER_END:
            raise TruncatedError(None, 'truncated DDS header (%d bytes)' % len(header))
        (size, _flags, height, width, _pitch, depth, levels) = struct.unpack('<7I', header[4:32])
        pf_size, pf_flags, fourcc, rgb_bits = struct.unpack('<2I4sI', header[76:92])
        masks = struct.unpack('<4I', header[92:108])  # red, green, blue and alpha bits of an uncompressed pixel
        caps2 = struct.unpack('<I', header[112:116])[0]
        self.mended = []
        self.data_start = HEADER_END
        self.volume = bool(caps2 & DDSCAPS2_VOLUME)
        self.cube = False
        self.faces = ()  # the names of the cube faces stored, in storage order
        self.array_layers = 1  # cube faces and array elements, each with its own mip chain
        self.opaque_alpha = self.premultiplied = False
        array_size = None
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
            if pf_flags & (DDPF_ANY_KIND & ~DDPF_FOURCC) or rgb_bits:
                self.mended.append('legacy pixel format beside the DX10 header ignored')
            if array_size == 0 and dimension:  # a dimension of 0 leaves the array size unset too
                self.mended.append('array size 0 read as 1')
            self.array_layers = max(array_size, 1)
            if self.volume and self.array_layers != 1:
                raise MalformedError(None, 'malformed DX10 header (an array of %d volume textures)' % array_size)
            if self.volume and misc & DX10_MISC_TEXTURECUBE:
                raise MalformedError(None, 'malformed DX10 header (a volume texture flagged as a cube map)')
            if misc & DX10_MISC_TEXTURECUBE:
                self.cube = True
                self.faces = tuple(name for _, name in CUBE_FACES)
                self.array_layers *= len(CUBE_FACES)
        else:
            self.format = self.legacy_format(fourcc, pf_flags, rgb_bits, masks)
            self.premultiplied = bool(self.format.flags & PREMULTIPLIED)
            if caps2 & DDSCAPS2_CUBEMAP and self.volume:
                raise MalformedError(None, 'malformed DDS header (a volume texture flagged as a cube map)')
            if self.format.encoding is PALETTE:
                self.data_start += PALETTE_BYTES
            if caps2 & DDSCAPS2_CUBEMAP:
                # The faces stored are those flagged, in the order +X, -X, +Y, -Y, +Z, -Z.
                self.cube = True
                self.faces = tuple(name for bit, name in CUBE_FACES if caps2 & bit)
                self.array_layers = len(self.faces)
                if not self.array_layers:
                    raise MalformedError(None, 'malformed DDS header (a cube map with no faces)')
        if size != HEADER_SIZE or pf_size != PIXEL_FORMAT_SIZE:
            # Writers get these wrong; a header whose format is read anyway is otherwise sound.
            if not self.format.decoded:
                raise MalformedError(None, 'malformed DDS header (sizes %d and %d, not 124 and 32)' % (size, pf_size))
            self.mended += ['%s size %d read as %d' % (field, value, right) for field, value, right in
                            (('header', size, HEADER_SIZE), ('pixel-format', pf_size, PIXEL_FORMAT_SIZE))
                            if value != right]

        self.width, self.height, self.depth = width, height, max(depth, 1) if self.volume else 1
        if width == 0 or height == 0:
            raise MalformedError(None, 'zero image dimension (%dx%d)' % (width, height))
        if max(width, height, self.depth) > MAX_DIMENSION:
            raise MalformedError(None, 'image dimensions %dx%dx%d exceed %d'
                                 % (width, height, self.depth, MAX_DIMENSION))
        self.levels = max(levels, 1)  # writers leave 0 for one level
        most = max(width, height, self.depth).bit_length()
        if self.levels > most:
            self.mended.append('%d mip levels read as %d (a %dx%d texture has at most %d)'
                               % (self.levels, most, width, height, most))
            self.levels = most
        self.array_size = array_size  # a DX10 header's, for fit_to
        if file_bytes is not None:
            self.fit_to(file_bytes - self.data_start)

    def legacy_format(self, fourcc, pf_flags, rgb_bits, masks):
        """The Format of a legacy header, mending what its writer left out."""
        red, green, blue, alpha = masks
        if fourcc in BY_FOURCC and not pf_flags & DDPF_FOURCC:
            self.mended.append('FourCC flag missing')
        elif not pf_flags & DDPF_ANY_KIND and rgb_bits and any(masks):
            pf_flags |= DDPF_RGB if red or green or blue else DDPF_ALPHA
            pf_flags |= DDPF_ALPHAPIXELS if alpha and red else 0
            self.mended.append('pixel-format flags 0x%x read as %s from its masks'
                               % (pf_flags, 'RGB' if red else 'alpha'))
        if pf_flags & DDPF_RGB and masks == SWAPPED_10_10_10_2:
            masks = (blue, green, red, alpha)
            self.mended.append('10-10-10-2 masks with red and blue swapped read as red in the low bits')
        if pf_flags & DDPF_RGB and not any(masks) and rgb_bits in COMMON_MASKS:
            masks = COMMON_MASKS[rgb_bits]
            self.mended.append('masks 0 read as the common %d-bit layout' % rgb_bits)
        if pf_flags & DDPF_LUMINANCE and rgb_bits == 8 and red >> 8:
            masks = (0xFF, 0, 0, 0)  # one channel of one byte: the byte, whatever the mask says
            self.mended.append('luminance mask 0x%x read as 0xff' % red)
        return Format.of_legacy(fourcc, pf_flags, rgb_bits, masks)

    def fit_to(self, data_bytes):
        """The mends the size of the data after the header settles: a DX10
        cube whose array size counts its faces where the data holds one
        cube; a mip count larger than the data holds, read as the levels
        that are whole."""
        if self.surface_bytes(1, 1) is None or data_bytes >= self.data_bytes():
            return
        array_size = self.array_size
        if self.cube and array_size == len(CUBE_FACES):
            self.array_layers = len(CUBE_FACES)
            if data_bytes >= self.data_bytes():
                self.mended.append('array size 6 read as one cube map (6 faces)')
                return
            self.array_layers = len(CUBE_FACES) * array_size
        declared = self.levels
        while self.levels > 1 and data_bytes < self.data_bytes():
            self.levels -= 1
        if data_bytes < self.data_bytes():
            self.levels = declared  # not even the first level is whole: truncated
        elif self.levels < declared:
            self.mended.append('%d mip levels read as %d (the data holds %d whole)'
                               % (declared, self.levels, self.levels))

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
            block_width, block_height, block_bytes = self.format.encoding.block
            return -(-width // block_width) * -(-height // block_height) * block_bytes
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
        self.block_height = texture.format.encoding.block[1]
        self.row_bytes = texture.surface_bytes(self.width, self.block_height)  # one block row
        self.block_rows = -(-self.height // self.block_height)
        self.start = texture.layer_offset(level, self.first)
        self.end = texture.layer_offset(level, self.first + self.count - 1) + self.row_bytes * self.block_rows
        if texture.format.encoding is PALETTE:
            self.start = texture.data_start - PALETTE_BYTES  # the palette, which every surface reads

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
