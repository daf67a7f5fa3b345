"""The library: read(), convert() and info(), with their arguments checked
before anything is opened. They change nothing process-wide (no signal
handlers, no umask, no standard stream) and leave nothing open."""
import collections
import io
import operator
import os
import sys

from .dds import HEADER_END, MAGIC
from .decode import png_mode, rows
from .errors import ConversionError, out_of_memory
from .exr import EXR_COMPRESSION, write_exr
from .formats import PIXEL_MODES, PNG_DEPTHS, READ_MODES, SAMPLE_TYPES, TARGET_TYPES, reading, target_type
from .inputs import Input
from .outputs import write_output, write_to_file
from .png import LEVELS, PNG_COMPRESSION, write_png

STANDARD_STREAM = '-'
TEXT_TYPES = (str,) if str is not bytes else (str, unicode)  # noqa: F821 (Python 2)
PATH_TYPES = TEXT_TYPES + (bytes,) if str is not bytes else TEXT_TYPES


class Info(collections.namedtuple('Info', 'width height levels layers kind format opaque_alpha decoded '
                                           'data_bytes expected_bytes premultiplied data_offset faces '
                                           'data_bytes_at_least mended refusal high_range signed')):
    """The header's facts: the full size, the number of mip levels, the
    layers of each level (a tuple: cube faces and array elements, or volume
    slices), the kind ('2D', 'cube', 'array' or 'volume'), the format (the
    FourCC of a legacy header, such as 'DXT1' or 'DXT5'; the DXGI name of a
    DX10 header, such as 'BC1_UNORM'; 'uncompressed 32-bit RGB'; 'DXGI
    format 200' or "FourCC 'ABCD'" for others), whether the header declares
    the alpha opaque, whether read() and convert() decode the format, the
    bytes of surface data the input holds and its header's levels and
    layers take (a file shorter than that is truncated; either may be None
    where the format's size is not known here), and whether the colours are
    stored premultiplied by alpha (DXT2, DXT4, or a DX10 header's alpha mode
    2; read() and convert() divide them by alpha). `data_offset` is where the level-0
    data of the first layer starts (128, or 148 after a DX10 header);
    `faces` names a cube map's stored faces in storage order ('+X' ... '-Z';
    () for other kinds); `data_bytes_at_least` is True where a stream was
    counted only as far as STREAM_LIMIT bytes, data_bytes then being a
    lower bound; `mended` is what of the header was mended to read it (a
    tuple of phrases, such as 'header size 24 read as 124'); `refusal`
    why read() refuses the format (None where it is decoded);
    `high_range` whether the format's channels hold more than 8 bits or
    floats (HDR; None for a format not known here); and `signed` whether
    its values are signed."""
    __slots__ = ()

    @property
    def truncated(self):
        return (None not in (self.data_bytes, self.expected_bytes) and self.data_bytes < self.expected_bytes
                and not self.data_bytes_at_least)


def plain_path(path):
    """A path as a native str, for the file system and the output rules
    (Python 3: bytes decoded as the system does, undecodable bytes kept);
    ConversionError for one the system cannot take."""
    given = path
    if hasattr(path, '__fspath__'):
        path = path.__fspath__()
    if str is not bytes and isinstance(path, bytes):
        path = os.fsdecode(path)
    if (u'\0' if isinstance(path, type(u'')) else b'\0') in path:
        raise ConversionError(given, 'a path cannot hold a NUL character')
    try:
        if str is not bytes:
            os.fsencode(path)
        elif not isinstance(path, str):
            path.encode(sys.getfilesystemencoding() or 'ascii')
    except UnicodeError:
        raise ConversionError(given, "cannot be written in the file system's encoding (%s)"
                              % (sys.getfilesystemencoding() or 'ascii'))
    return path


def is_path(candidate):
    """Whether a source or target is a path rather than a file object."""
    return isinstance(candidate, PATH_TYPES) or hasattr(candidate, '__fspath__')


def is_standard_stream(path):
    """`-` as text names a standard stream; a path object or bytes name a file."""
    return isinstance(path, TEXT_TYPES) and path == (u'-' if isinstance(path, type(u'')) else STANDARD_STREAM)


# The longest path a system takes (Linux's PATH_MAX): longer bytes are data, not a path.
LONGEST_PATH = 4096


def check_not_data(candidate, role):
    """A short TypeError for a file's contents given where its path belongs:
    bytes too long for a path, or starting as a DDS file does (its magic,
    then a header holding NUL bytes, which no path holds)."""
    if isinstance(candidate, bytes) and (len(candidate) > LONGEST_PATH or
                                         (candidate.startswith(MAGIC) and b'\0' in candidate[:HEADER_END])):
        raise TypeError('%s must be a path or a binary file object, not a file\'s %d bytes '
                        '(wrap them in io.BytesIO)' % (role, len(candidate)))


def check_file(candidate, role, method):
    """TypeError unless `candidate` is a path or a binary file object (one with `method`)."""
    check_not_data(candidate, role)
    if is_path(candidate):
        return
    mode = getattr(candidate, 'mode', None)
    text = isinstance(candidate, io.TextIOBase) or (str is not bytes and isinstance(mode, str) and 'b' not in mode)
    if hasattr(candidate, method) and not text:
        return
    kinds = 'str, bytes or os.PathLike' if str is not bytes else 'str or unicode'
    raise TypeError('%s must be a path (%s) or a binary file object, not %s'
                    % (role, kinds, type(candidate).__name__))


def check_fspath(candidate):
    """os.PathLike's contract: __fspath__ gives str or bytes."""
    if hasattr(candidate, '__fspath__'):
        path = candidate.__fspath__()
        if not isinstance(path, PATH_TYPES):
            raise TypeError('%s.__fspath__() gave %s, not str or bytes'
                            % (type(candidate).__name__, type(path).__name__))


def integer(value, name):
    try:
        if isinstance(value, bool) or type(value).__name__ == 'bool_':  # numpy's too
            raise TypeError
        return int(operator.index(value))
    except TypeError:
        raise TypeError('%s must be an integer, not %s' % (name, type(value).__name__))


def check_level(level, layer):
    """The level and layer as plain ints (layer may be None)."""
    return integer(level, 'level'), None if layer is None else integer(layer, 'layer')


def check_compression(compression, threads):
    """The zlib level and the number of threads as plain ints (either may be None)."""
    if compression is not None:
        compression = integer(compression, 'compression')
    if compression is not None and compression not in LEVELS:
        raise ValueError('compression must be a zlib level from %d to %d, not %d'
                         % (LEVELS[0], LEVELS[-1], compression))
    if threads is not None:
        threads = integer(threads, 'threads')
        if threads < 1:
            raise ValueError('threads must be at least 1 (or None for the cores the process may use), not %d'
                             % threads)
    return compression, threads


def name_of(file):
    """What errors about a caller's file object name: its name where it has a path for one."""
    try:
        name = getattr(file, 'name', None)
    except Exception:  # a property that fails: no name
        return None
    return name if isinstance(name, PATH_TYPES) else None


def standard_input():
    stream = sys.stdin
    if stream is None:
        raise ConversionError(STANDARD_STREAM, 'standard input is closed')
    return getattr(stream, 'buffer', stream)


def standard_output():
    stream = sys.stdout
    if stream is None:
        raise ConversionError(STANDARD_STREAM, 'standard output is closed')
    stream.flush()  # what was printed comes first
    if str is bytes and isinstance(stream, file):  # noqa: F821 (Python 2)
        # Its descriptor as a raw file, which says how much it took: a Python
        # 2 file that would block fails having written an unknown part.
        return io.open(stream.fileno(), 'wb', buffering=0, closefd=False)
    if str is not bytes and not hasattr(stream, 'buffer'):
        if isinstance(stream, io.TextIOBase):
            raise ConversionError(STANDARD_STREAM, 'standard output takes text only (sys.stdout has no binary buffer)')
        return stream  # a binary file put in its place
    return getattr(stream, 'buffer', stream)


def open_source(source):
    """The Input for a path, `-` (standard input) or a binary file object."""
    check_file(source, 'source', 'read')
    check_fspath(source)
    if not is_path(source):
        return Input(name_of(source), source, False)
    if is_standard_stream(source):
        return Input(source, standard_input(), False)
    path = plain_path(source)
    return Input.open(path, source)


RULES = ('design', 'gpu')  # the decoders' colour rules


def check_choice(value, name, choices):
    if not isinstance(value, TEXT_TYPES):
        raise TypeError('%s must be a string, not %s' % (name, type(value).__name__))
    if value not in choices:
        raise ValueError('%s must be %s, not %r' % (name, ' or '.join(repr(str(c)) for c in sorted(choices)), value))
    return str(value)


def read(source, level=0, layer=None, mode='RGB', rule='design', normal_map=False, premultiplied=False,
         dtype='uint8'):
    """Decodes one level of a DDS file: returns (width, height, pixels), the
    pixels top row first, in one bytearray of height rows of width pixels;
    with layer None, every layer of the level stacked top to bottom.

    `source` is a path (str, bytes or os.PathLike; `-` is standard input) or
    a binary file object, read from where it stands and left open. `mode`
    'RGB' gives 3 bytes a pixel (DXT1's transparent pixels black); 'RGBA'
    gives 4 (DXT1's transparent pixels (0, 0, 0, 0), alpha 255 where the
    format has none); 'L', for BC4 alone, 1. BC4's value is red, green and
    blue; BC5 is red and green, with blue zero in the format's mapping (0
    unsigned, 128 signed) or, with `normal_map`, the z of the unit normal.
    `rule` is the colour rule, 'design' or 'gpu'. Colours stored
    premultiplied by alpha (DXT2, DXT4, a DX10 header's alpha mode 2) are
    divided by it, as a PNG's are, unless `premultiplied` asks for them as
    stored. 'L' and 'LA' give grey formats (1 and 2 samples a pixel).

    `dtype` is the samples' type, in native byte order (numpy.frombuffer
    takes the pixels as they are): 'uint8', or 'uint16', 'float16' or
    'float32', which keep what 8 bits would round away. An n-bit unsigned
    value v is v / (2**n - 1) as a float, round(v * 65535 / (2**n - 1)) as
    uint16; signed values are -1 to 1 as floats; BC6H's halves and float
    layouts are themselves as floats, clamped to 0..1 and rounded as
    integers; alpha is full (1.0, 65535) where the format has none. Raises
    ConversionError (or a subclass) naming the source."""
    level, layer = check_level(level, layer)
    mode = check_choice(mode, 'mode', READ_MODES)
    rule = check_choice(rule, 'rule', RULES)
    dtype = check_choice(dtype, 'dtype', SAMPLE_TYPES)
    reader = open_source(source)
    try:
        plan = reader.plan(level, layer)
        if mode not in plan.texture.format.encoding.read_modes:
            raise ConversionError(reader.path, 'mode %r is for %s files; this is %s'
                                  % (mode, reading(mode), plan.texture.format.name))
        read_at = reader.reader(plan)  # a stream is read whole here, checking its size before the pixels are made
        pixels = bytearray(PIXEL_MODES[mode].pixel_bytes(dtype) * plan.width * plan.image_height)
        position = 0
        for row in rows(plan, read_at, mode, rule, bool(normal_map), bool(premultiplied), dtype=dtype):
            pixels[position:position + len(row)] = row
            position += len(row)
        return plan.width, plan.image_height, pixels
    except MemoryError:
        raise out_of_memory(reader.path)
    finally:
        reader.close()


def convert(source, target, level=0, layer=None, compression=None, threads=None, opaque=False,
            rule='design', normal_map=False, depth=None, format=None):
    """Converts one level of a DDS file to a PNG or an OpenEXR file as the
    command does.

    `source` as for read(); `target` is a path (`-` writes through
    sys.stdout's binary buffer, after its text) or a binary file object,
    written and left open. A path is written safely: in full or not at all,
    never over the input; a path named for another image type (`.jpg`,
    `.tga`...) is refused. `compression` is zlib's level, 0 (none) to 9
    (None: the target type's own, 6 for PNG, 4 for OpenEXR's larger data)
    (smallest). A large image is compressed by as many threads as the
    process may use cores, or at most `threads` (1: in the caller's thread
    alone); the PNG is the same whatever their number. The PNG keeps the
    texture's transparency: RGBA when any pixel of the chosen level and
    layers has alpha below 255, else RGB; with `opaque`, or when a DX10
    header declares the alpha opaque, RGB always (DXT1's transparent pixels
    black). BC4 gives a greyscale PNG, BC5 an RGB one as read() gives it
    (`normal_map`). `rule` is the colour rule, 'design' or 'gpu'.

    `format` is 'png' or 'exr'; None takes it from the target's name (a
    name ending in .exr is an OpenEXR file), else PNG. `depth` is a PNG's
    bits a sample, 8 or 16 (16-bit: linear values clamped to 0..1, no tone
    mapping); None is 16 for formats of more than 8 bits a channel or of
    floats, else 8. An OpenEXR file is a scanline file of half floats (as
    BC6H stores them: unclamped), ZIP-compressed at zlib level
    `compression`; it takes no `depth`. Raises ConversionError naming the
    path at fault."""
    check_file(target, 'target', 'write')
    check_fspath(target)
    level, layer = check_level(level, layer)
    compression, threads = check_compression(compression, threads)
    rule = check_choice(rule, 'rule', RULES)
    if format is None:
        format = target_type(plain_path(target)) if is_path(target) and not is_standard_stream(target) else 'png'
    format = check_choice(format, 'format', TARGET_TYPES)
    depth = check_depth(depth, format)
    look = Look(bool(opaque), rule, bool(normal_map), depth, format)
    if not is_path(target):
        if target is source:
            raise ConversionError(name_of(target), 'is the input file itself')

        def output(identity, write):
            write_to_file(name_of(target), target, identity, write)
    elif is_standard_stream(target):
        def output(identity, write):
            write_to_file(target, standard_output(), identity, write)
    else:
        path = plain_path(target)

        def output(identity, write):
            write_output(target, path, identity, write)
    write_image_of(source, level, layer, output, compression, threads, look)


def check_depth(depth, format):
    """A PNG's depth as a plain int (None: the format's own)."""
    if depth is None:
        return None
    depth = integer(depth, 'depth')
    if format != 'png':
        raise ValueError('depth is for PNG files; an OpenEXR file holds floats')
    if depth not in PNG_DEPTHS:
        raise ValueError('depth must be %s, not %d' % (' or '.join(str(d) for d in sorted(PNG_DEPTHS)), depth))
    return depth


class Look(collections.namedtuple('Look', 'opaque rule normal_map depth format')):
    """How convert() makes its output: `opaque`, the colour rule, `normal_map`,
    a PNG's `depth` (None: the format's own) and the target type `format`."""
    __slots__ = ()


DEFAULT_LOOK = Look(False, 'design', False, None, 'png')


def write_image_of(source, level, layer, output, compression=None, threads=None, look=DEFAULT_LOOK):
    """The PNG or OpenEXR file of one level of `source`, written by
    output(identity, write): `identity` is the input's (device, inode) or
    None, write(file) writes the file to a binary file, compressed and with
    the pixels `look` (a Look) says, as convert() does."""
    reader = open_source(source)
    try:
        plan = reader.plan(level, layer)
        read_at = reader.reader(plan)  # a stream is read whole here, before any output is made
        channel = plan.texture.format.encoding.channel
        if look.format == 'exr':
            dtype = 'float32' if channel.kind == 'float' and channel.bits > 16 else 'float16'
        else:
            depth = look.depth or channel.png_depth
            dtype = PNG_DEPTHS[depth]
        # Whether the image needs alpha is known before its header is written:
        # a first pass looks for a pixel with alpha below full, reading a file again
        # (a stream is held) rather than holding the image.
        mode = png_mode(plan, read_at, look.opaque or plan.texture.opaque_alpha, look.rule, dtype)
        pixels = rows(plan, read_at, mode, look.rule, look.normal_map, dtype=dtype)
        width, height = plan.width, plan.image_height
        if look.format == 'exr':
            def write(out):
                write_exr(out, width, height, pixels, mode, dtype,
                          EXR_COMPRESSION if compression is None else compression, threads)
        else:
            def write(out):
                write_png(out, width, height, pixels, PNG_COMPRESSION if compression is None else compression,
                          threads, mode, depth)
        output(reader.identity(), write)
    except MemoryError:  # reading a stream, decoding, compressing or writing: the output is gone already
        raise out_of_memory(reader.path)
    finally:
        reader.close()


def info(source):
    """The header's facts (an Info), of any DDS file, without decoding:
    `source` as for read(). A stream is read as far as its header's
    surfaces reach, to count them, or STREAM_LIMIT bytes at most."""
    reader = open_source(source)
    try:
        texture = reader.texture()
        data_bytes, at_least = reader.data_size(texture)
        if data_bytes is not None and not at_least:
            texture.fit_to(data_bytes)  # a stream's size is known once counted: as a file's is
            data_bytes = min(data_bytes, texture.data_bytes())
    finally:
        reader.close()
    encoding = texture.format.encoding
    return Info(texture.width, texture.height, texture.levels,
                tuple(texture.layers(level) for level in range(texture.levels)),
                texture.kind, texture.format.name, texture.opaque_alpha, texture.format.decoded,
                data_bytes, texture.data_bytes(), texture.premultiplied, texture.data_start, texture.faces, at_least,
                tuple(texture.mended), None if texture.format.decoded else texture.format.refusal(),
                None if encoding is None else encoding.channel.high_range, texture.format.signed)

