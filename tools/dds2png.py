#!/bin/sh
''''command -v python3 >/dev/null 2>&1 && exec python3 "$0" "$@"; exec python2.7 "$0" "$@" # '''
# The two lines above let the shell start whichever of python3 and python2.7
# the machine has; Python reads the second as a string and goes on here.
"""dds2png: converts DXT1 (BC1) textures in DDS files to 8-bit RGB PNG files.

    dds2png [--level N] [--layer K] INPUT OUTPUT     OUTPUT may be - (standard output)
    dds2png [--level N] [--layer K] -o DIR INPUT...  writes DIR/<name>.png for each
    dds2png --version                                prints the package's version

Reads DXT1 data behind the legacy header (FOURCC "DXT1") and behind the DX10
header (DXGI formats 70, 71 and 72). Sizes come from the width, height,
depth, mip count, array size and cube flags alone. A file with several 2D
layers (cube faces, array elements, volume slices) becomes one image of all
its layers stacked top to bottom in storage order, unless --layer picks one.

Every size the header gives is checked against what the input holds before
anything is allocated or read. A regular file is then read a few block rows
at a time and each block row decoded with the _dxt1 module as it comes, so
memory stays flat and a file that changes while it is read gives a correct
image or an error, never a crash; a stream is read in bounded pieces, as far
as the chosen layers need and no further, and held once. Each error is one
line, `dds2png: PATH: message`; a single conversion exits with status 2 on
error and leaves no partial output, a batch converts every good file and
exits with status 1 when any failed, and an interrupt ends either with
`dds2png: interrupted` and status 130.

As a library (Python 2.7 and 3):

    import dds2png
    width, height, pixels = dds2png.read('texture.dds', level=0, layer=None)
    dds2png.convert('texture.dds', 'texture.png', level=0, layer=None)

read() returns the RGB pixels of the chosen level and layers, top row first,
as one bytearray of height rows of 3 * width bytes. convert() does what the
command does for one file, with the same output rules. Both raise
ConversionError, whose str() is the command's error line without its
`dds2png: ` prefix (`PATH: message`, control characters in the path escaped
as `ls -b` shows them); its `path` is the path at fault and its `reason` the
message alone.
"""
import argparse
import errno
import io
import json
import os
import signal
import stat
import struct
import sys
import zlib

import _dxt1

# The package's version: the build writes it here in the copy it installs;
# run from the source tree, the tool reads packaging/dxt1-package.json.
INSTALLED_VERSION = None
PACKAGE_DEFINITION = os.path.join('..', 'packaging', 'dxt1-package.json')  # from this file's folder

MAGIC = b'DDS '
HEADER_END = 128            # the magic (4 bytes) and the 124-byte header
DX10_HEADER_END = 148       # then the 20-byte DX10 header, when the FOURCC is "DX10"
FOURCC_FIELD = slice(84, 88)
MAX_DIMENSION = 32768
PNG_MAX_HEIGHT = (1 << 31) - 1
PNG_COMPRESSION = 6
IDAT_SIZE = 1 << 16         # compressed bytes gathered into one IDAT chunk
READ_SIZE = 1 << 18         # bytes asked of the input at a time: whole block rows, at least one
NEW_FILE_MODE = 0o666       # less the umask, as for any file a program makes
PRIVATE_MODE = 0o600
LONGEST_REPORT = 1 << 15    # a worker's error line, well inside a pipe's buffer
SIGNAL_STATUS = 128         # the shell reports a command a signal ended as 128 + the signal's number
INTERRUPTED_STATUS = SIGNAL_STATUS + signal.SIGINT  # 130, for Ctrl-C
# Signals that end the command as Ctrl-C does, removing its temporary outputs,
# with status SIGNAL_STATUS + the signal's number: kill and timeout send
# SIGTERM, a closed terminal SIGHUP.
STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)

# Header fields.
DDPF_FOURCC, DDPF_RGB, DDPF_LUMINANCE = 0x4, 0x40, 0x20000
DDSCAPS2_CUBEMAP, DDSCAPS2_VOLUME = 0x200, 0x200000
CUBE_FACES = [(0x400, '+X'), (0x800, '-X'), (0x1000, '+Y'), (0x2000, '-Y'), (0x4000, '+Z'), (0x8000, '-Z')]
DX10_TEXTURE3D, DX10_MISC_TEXTURECUBE = 4, 0x4
DXGI_BC1 = (70, 71, 72)     # BC1_TYPELESS, BC1_UNORM, BC1_UNORM_SRGB

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
STREAM_NAMES = {0: 'standard input', 1: 'standard output', 2: 'standard error'}
STANDARD_OUTPUT_CLOSED = '%s is closed' % STREAM_NAMES[1]
MOST_LINKS = 40             # symbolic links followed in one path, as the system follows

try:
    _buffer = buffer  # Python 2: a window on a bytearray, without a copy

    def window(data, start, size):
        return _buffer(data, start, size)
except NameError:
    def window(data, start, size):
        return data[start:start + size]  # data is a memoryview: a slice copies nothing

    def memoryview_of(data):
        return memoryview(data)
else:
    def memoryview_of(data):
        return data

# How `ls -b` shows control characters, so that every message stays one line.
C_ESCAPES = {'\a': '\\a', '\b': '\\b', '\t': '\\t', '\n': '\\n', '\v': '\\v', '\f': '\\f', '\r': '\\r',
             '\\': '\\\\'}


def escape(text):
    """The text with backslashes and control characters written as `ls -b` writes them."""
    if not any(c < ' ' or c in '\\\x7f' for c in text):
        return text
    return ''.join(C_ESCAPES.get(c) or ('\\%03o' % ord(c) if c < ' ' or c == '\x7f' else c) for c in text)


class ConversionError(Exception):
    """What went wrong with one path. str() is the command's error line without
    its `dds2png: ` prefix; `path` is the path at fault, `reason` the message."""

    def __init__(self, path, reason):
        Exception.__init__(self, '%s: %s' % (escape(path), reason))
        self.path, self.reason = path, reason


def reason(error):
    """The message of an operating-system error, without the paths Python adds."""
    return error.strerror or str(error)


class Texture(object):
    """Where the surfaces of a DXT1 DDS file are, from its header alone."""

    def __init__(self, header):
        if len(header) < 4 or header[:4] != MAGIC:
            raise ValueError('not a DDS file')
        if len(header) < HEADER_END:
            raise ValueError('truncated DDS header (%d bytes)' % len(header))
        (size, _flags, height, width, _pitch, depth, levels) = struct.unpack('<7I', header[4:32])
        pf_size, pf_flags, fourcc, rgb_bits = struct.unpack('<2I4sI', header[76:92])
        caps2 = struct.unpack('<I', header[112:116])[0]
        if size != 124 or pf_size != 32:
            raise ValueError('malformed DDS header (sizes %d and %d, not 124 and 32)' % (size, pf_size))
        self.data_start = HEADER_END
        self.volume = bool(caps2 & DDSCAPS2_VOLUME)
        self.array_layers = 1  # cube faces and array elements, each with its own mip chain
        if fourcc == b'DX10':
            if len(header) < DX10_HEADER_END:
                raise ValueError('truncated DX10 header')
            dxgi, dimension, misc, array_size = struct.unpack('<4I', header[128:144])
            if dxgi not in DXGI_BC1:
                name = DXGI_NAMES.get(dxgi)
                raise ValueError('DX10 header with DXGI format %d%s; %s'
                                 % (dxgi, ' (%s)' % name if name else '', ONLY_DXT1))
            self.data_start = DX10_HEADER_END
            self.volume = dimension == DX10_TEXTURE3D
            self.array_layers = max(array_size, 1)  # writers leave 0 for one texture
            if self.volume and self.array_layers != 1:
                raise ValueError('malformed DX10 header (an array of %d volume textures)' % array_size)
            if misc & DX10_MISC_TEXTURECUBE:
                self.array_layers *= len(CUBE_FACES)
        elif fourcc != b'DXT1':
            raise ValueError(self.describe_format(fourcc, pf_flags, rgb_bits))
        elif caps2 & DDSCAPS2_CUBEMAP:
            # The faces stored are those flagged, in the order +X, -X, +Y, -Y, +Z, -Z.
            self.array_layers = len([bit for bit, _ in CUBE_FACES if caps2 & bit])
            if not self.array_layers:
                raise ValueError('malformed DDS header (a cube map with no faces)')

        self.width, self.height, self.depth = width, height, max(depth, 1) if self.volume else 1
        if width == 0 or height == 0:
            raise ValueError('zero image dimension (%dx%d)' % (width, height))
        if max(width, height, self.depth) > MAX_DIMENSION:
            raise ValueError('image dimensions %dx%dx%d exceed %d' % (width, height, self.depth, MAX_DIMENSION))
        self.levels = max(levels, 1)  # writers leave 0 for one level
        most = max(width, height, self.depth).bit_length()
        if self.levels > most:
            raise ValueError('malformed DDS header (%d mip levels; a %dx%d texture has at most %d)'
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


class Plan(object):
    """The image to make: which layers of which level, and the bytes they need."""

    def __init__(self, texture, level, layer):
        # A negative count would reach back into the header (or before it) for pixels.
        if not 0 <= level < texture.levels:
            raise ValueError('no mip level %d: the file has %d' % (level, texture.levels))
        count = texture.layers(level)
        if layer is not None and not 0 <= layer < count:
            raise ValueError('no layer %d: level %d has %d' % (layer, level, count))
        self.texture, self.level = texture, level
        self.width, self.height = texture.level_size(level)[:2]
        self.first, self.count = (layer, 1) if layer is not None else (0, count)
        if self.height * self.count > PNG_MAX_HEIGHT:
            raise ValueError('%d layers of %d rows are too tall for a PNG' % (self.count, self.height))
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
            raise ValueError('truncated surface data: %d bytes of %d' % (max(0, size - start), self.end - start))

    def rows(self, read_at):
        """The image rows, RGB, cropped to the width, layer after layer.
        read_at(offset, size) returns `size` bytes of the input, as a bytes-like object."""
        width_bytes = 3 * self.width
        per_read = max(1, READ_SIZE // self.row_bytes)
        for layer in range(self.first, self.first + self.count):
            offset = self.texture.layer_offset(self.level, layer)
            for top in range(0, self.block_rows, per_read):
                count = min(per_read, self.block_rows - top)
                data = read_at(offset + top * self.row_bytes, count * self.row_bytes)
                for n in range(count):
                    planes = _dxt1.decodeDXT1(window(data, n * self.row_bytes, self.row_bytes))
                    for yo in range(min(4, self.height - 4 * (top + n))):
                        row = planes[yo]
                        yield row if len(row) == width_bytes else row[:width_bytes]


class Input(object):
    """An input: a regular file, read where the plan says a few block rows at
    a time; anything else (a pipe, a FIFO, a device, an empty-looking file
    such as those under /proc) is read in order in bounded pieces."""

    def __init__(self, path):
        self.path, self.file = path, None
        try:
            self.file = io.open(path, 'rb', buffering=0)
            self.stat = os.fstat(self.file.fileno())
        except EnvironmentError as e:
            self.close()
            raise ConversionError(path, reason(e))
        if stat.S_ISDIR(self.stat.st_mode):
            self.close()
            raise ConversionError(path, 'is a directory')
        self.regular = stat.S_ISREG(self.stat.st_mode) and self.stat.st_size > 0
        self.position = 0  # of the next byte the file object gives

    def fail(self, message):
        raise ConversionError(self.path, message)

    def read_into(self, target):
        """Fills the bytearray `target` from the current position; returns how many bytes came."""
        got = 0
        try:
            while got < len(target):
                # A temporary view: none outlives the call, so the bytearray stays resizable.
                count = self.file.readinto(memoryview(target)[got:])
                if not count:
                    break
                got += count
        except EnvironmentError as e:
            self.fail(reason(e))
        self.position += got
        return got

    def read(self, size):
        piece = bytearray(size)
        got = self.read_into(piece)
        del piece[got:]
        return bytes(piece)

    def plan(self, level, layer):
        """Reads the header and returns the plan, after checking the input holds it."""
        try:
            header = self.read(HEADER_END)
            if len(header) == HEADER_END and header[FOURCC_FIELD] == b'DX10':
                header += self.read(DX10_HEADER_END - HEADER_END)
            plan = Plan(Texture(header), level, layer)
            if self.regular:
                plan.check_available(self.stat.st_size)
        except ValueError as e:
            self.fail(str(e))
        return plan

    def reader(self, plan):
        """read_at(offset, size) for Plan.rows: bounded reads of a file, or
        windows on the stream's bytes, read here as far as the plan needs."""
        if self.regular:
            return self.read_file_at(plan)
        # Skip to the first byte the plan reads, then keep the rest, held once.
        while self.position < plan.start:
            if not self.read(min(READ_SIZE, plan.start - self.position)):
                self.truncated(plan, self.position)
        data = bytearray()
        while self.position < plan.end:
            piece = self.read(min(READ_SIZE, plan.end - self.position))
            if not piece:
                self.truncated(plan, self.position)
            data += piece
        data = memoryview_of(data)
        return lambda offset, size: window(data, offset - plan.start, size)

    def read_file_at(self, plan):
        chunk = [bytearray()]

        def read_at(offset, size):
            if len(chunk[0]) != size:
                chunk[0] = bytearray(size)
            try:
                self.file.seek(offset)
            except EnvironmentError as e:
                self.fail(reason(e))
            self.position = offset
            got = self.read_into(chunk[0])
            if got < size:
                # The file shrank since it was checked: say how much it holds now.
                try:
                    now = os.fstat(self.file.fileno()).st_size
                except EnvironmentError:
                    now = offset + got
                self.truncated(plan, min(now, offset + got))
            if offset + size == plan.end:
                self.check_unchanged()
            return memoryview_of(chunk[0])
        return read_at

    def check_unchanged(self):
        """After the last read of a regular file: fails if it was written to
        since it was opened, since the rows decoded before may be of its old
        content and those after of its new. (A file replaced by a rename is
        not written to: what is read is the one opened.)"""
        try:
            now = os.fstat(self.file.fileno())
        except EnvironmentError as e:
            self.fail(reason(e))
        if (now.st_size, now.st_mtime) != (self.stat.st_size, self.stat.st_mtime):
            self.fail('changed while it was read')

    def truncated(self, plan, size):
        try:
            plan.check_available(size)
        except ValueError as e:
            self.fail(str(e))

    def close(self):
        if self.file is not None:
            self.file.close()


def png_chunk(kind, payload):
    crc = zlib.crc32(payload, zlib.crc32(kind)) & 0xffffffff
    return struct.pack('>I', len(payload)) + kind + payload + struct.pack('>I', crc)


def write_png(out, width, height, rows):
    """An 8-bit RGB PNG of the rows, each with filter type 0, written as it is compressed."""
    out.write(b'\x89PNG\r\n\x1a\n' + png_chunk(b'IHDR', struct.pack('>2I5B', width, height, 8, 2, 0, 0, 0)))
    compressor = zlib.compressobj(PNG_COMPRESSION)
    pending, pending_size = [], 0
    for row in rows:
        for piece in (compressor.compress(b'\0'), compressor.compress(row)):
            if piece:
                pending.append(piece)
                pending_size += len(piece)
        if pending_size >= IDAT_SIZE:
            out.write(png_chunk(b'IDAT', b''.join(pending)))
            pending, pending_size = [], 0
    pending.append(compressor.flush())
    out.write(png_chunk(b'IDAT', b''.join(pending)) + png_chunk(b'IEND', b''))


# Temporary outputs not yet renamed into place or removed. Each name is listed
# before its file is made, so that whatever interrupts the conversion, the
# handler that catches the interrupt can remove every one.
unfinished = set()
# Standard streams that were closed when the command started (main() puts
# /dev/null, read-only, in their place, so that no file opened later takes their number).
closed_streams = set()


def remove_unfinished():
    for temp in list(unfinished):
        try:
            os.unlink(temp)
        except EnvironmentError:
            pass  # not made yet, or already renamed
        unfinished.discard(temp)


def temporary_name(pid, tail):
    return '.dds2png-%d-%s.tmp' % (pid, tail)


def remove_temporaries(pid, folder):
    """Removes the temporary outputs a process that died left in the folder."""
    prefix, suffix = temporary_name(pid, '').split('.tmp')[0], '.tmp'
    try:
        for name in os.listdir(folder):
            if name.startswith(prefix) and name.endswith(suffix):
                os.unlink(os.path.join(folder, name))
    except EnvironmentError:
        pass  # nothing there, or not ours to remove


def create_temporary(folder, mode):
    """A new file `.dds2png-<process id>-<random>.tmp` in the folder, with the
    permission bits `mode` less the umask, listed in `unfinished`; returns
    (fd, path). The batch removes those of a worker that died."""
    while True:
        temp = os.path.join(folder, temporary_name(os.getpid(), ''.join('%02x' % c for c in bytearray(os.urandom(6)))))
        unfinished.add(temp)
        try:
            return os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode), temp
        except EnvironmentError as e:
            unfinished.discard(temp)
            if e.errno != errno.EEXIST:
                raise


def closed_stream_named(path):
    """The closed standard stream the path names through /dev/stdout,
    /dev/fd/N or /proc/self/fd/N, or None: opened, it would be the
    /dev/null put in the stream's place, and what is written would be lost."""
    if not closed_streams:
        return None
    fd_folder = os.path.realpath('/proc/self/fd')
    for _ in range(MOST_LINKS):
        folder, name = os.path.split(path)
        if name.isdigit() and int(name) in closed_streams and os.path.realpath(folder) == fd_folder:
            return int(name)
        if not os.path.islink(path):
            break
        path = os.path.join(folder, os.readlink(path))
    return None


def write_output(path, source, write):
    """Runs write(file) on the output `path`, safely for the input and for what is there.

    A new path or a regular file gets a temporary file in its folder, renamed
    over it when complete and given the old file's permission bits; a symbolic
    link is written through to its target, as cp does; anything else that
    exists (a device, a FIFO), and every path under /dev and /proc, which
    name open files and devices, is written in place; `-` is standard output.
    A path ending in a slash names a folder, as for GNU tools."""
    if path == '-':
        try:
            if 1 in closed_streams:
                raise OSError(errno.EBADF, STANDARD_OUTPUT_CLOSED)
            fd = os.dup(1)
        except EnvironmentError:
            raise ConversionError(path, STANDARD_OUTPUT_CLOSED)
        with os.fdopen(fd, 'wb') as out:
            existing = os.fstat(fd)
            if (existing.st_dev, existing.st_ino) == (source.st_dev, source.st_ino):
                raise ConversionError(path, 'standard output is the input file itself')
            write(out)
        return
    try:
        existing = os.stat(path)
    except EnvironmentError as e:
        if e.errno != errno.ENOENT:
            raise ConversionError(path, reason(e))
        if os.path.islink(path):
            raise ConversionError(path, 'not writing through a dangling symbolic link')
        existing = None
    if existing is not None:
        if (existing.st_dev, existing.st_ino) == (source.st_dev, source.st_ino):
            raise ConversionError(path, 'is the input file itself')
        if stat.S_ISDIR(existing.st_mode):
            raise ConversionError(path, 'is a directory')
    if path.endswith(os.sep):
        raise ConversionError(path, os.strerror(errno.ENOTDIR))
    closed = closed_stream_named(path)
    if closed is not None:
        raise ConversionError(path, '%s is closed' % STREAM_NAMES[closed])
    if existing is not None and (not stat.S_ISREG(existing.st_mode) or path.startswith(('/dev/', '/proc/'))):
        with open(path, 'wb') as out:
            write(out)
        return
    # An existing file is replaced where its links lead; a new one is made
    # where the system would make it, so that `new/.` or `missing/../x.png`
    # fail as they would for any program rather than name a file they do not.
    target = os.path.realpath(path) if existing is not None else path
    if existing is not None and not os.access(target, os.W_OK):
        raise ConversionError(path, 'permission denied (the file is not writable)')
    # A new file gets the umask from the system as it is made: reading the
    # umask means setting it, which threads converting at once would race on.
    # A file replaced stays private until it has the old file's bits.
    fd, temp = create_temporary(os.path.dirname(target), NEW_FILE_MODE if existing is None else PRIVATE_MODE)
    try:
        with os.fdopen(fd, 'wb') as out:
            write(out)
        if existing is not None:
            os.chmod(temp, stat.S_IMODE(existing.st_mode))
            if (existing.st_uid, existing.st_gid) != (os.getuid(), os.getgid()):
                try:
                    os.chown(temp, existing.st_uid, existing.st_gid)
                except EnvironmentError:
                    pass  # only the superuser may give a file away
        os.rename(temp, target)
    except BaseException:
        os.unlink(temp)
        raise
    finally:
        unfinished.discard(temp)


def native_path(path):
    """The path as the command gets it, a str: the output rules and the error
    line join and compare it with str names, so a caller's bytes or path
    object (Python 3) is decoded as the system does, undecodable bytes kept."""
    return os.fsdecode(path) if hasattr(os, 'fsdecode') else path


def read(path, level=0, layer=None):
    """Decodes one level of a DDS file: returns (width, height, pixels), the
    pixels RGB, top row first, in one bytearray of height rows of 3 * width
    bytes; with layer None, every layer of the level stacked top to bottom."""
    path = native_path(path)
    source = Input(path)
    try:
        plan = source.plan(level, layer)
        read_at = source.reader(plan)  # a stream is read whole here, checking its size before the pixels are made
        pixels = bytearray(3 * plan.width * plan.image_height)
        position = 0
        for row in plan.rows(read_at):
            pixels[position:position + len(row)] = row
            position += len(row)
        return plan.width, plan.image_height, pixels
    except MemoryError:
        raise ConversionError(path, 'out of memory')
    finally:
        source.close()


def convert(source, target, level=0, layer=None):
    """Converts one file as the command does; raises ConversionError naming the path at fault."""
    source, target = native_path(source), native_path(target)
    reader = Input(source)
    try:
        plan = reader.plan(level, layer)
        read_at = reader.reader(plan)  # a stream is read whole here, before any output is made
        try:
            write_output(target, reader.stat,
                         lambda out: write_png(out, plan.width, plan.image_height, plan.rows(read_at)))
        except EnvironmentError as e:
            raise ConversionError(target, reason(e))
    except MemoryError:
        raise ConversionError(source, 'out of memory')
    finally:
        reader.close()


def encoded(text):
    """Text as bytes, the undecodable bytes of paths given back as they were (Python 3)."""
    return text if isinstance(text, bytes) else text.encode(sys.getfilesystemencoding(), 'surrogateescape')


def decoded(data):
    """The reverse of encoded()."""
    return data if str is bytes else data.decode(sys.getfilesystemencoding(), 'surrogateescape')


def write_all(fd, text):
    data = encoded(text)
    while data:
        data = data[os.write(fd, data):]


def write_error(text):
    """Writes on standard error; a closed or broken stream loses the text, nothing else."""
    try:
        write_all(2, text)
    except EnvironmentError:
        pass


def write_standard_output(text):
    """Writes the text of --version or --help on standard output; raises
    ConversionError naming `-` when it is closed or refuses the text."""
    try:
        if 1 in closed_streams:
            raise OSError(errno.EBADF, STANDARD_OUTPUT_CLOSED)
        write_all(1, text)
    except EnvironmentError as e:
        raise ConversionError('-', STANDARD_OUTPUT_CLOSED if e.errno == errno.EBADF else reason(e))


def say(line):
    write_error(line + '\n')


def conversion_error(job):
    """Converts one (source, target, level, layer) job; returns its error
    line without the `dds2png: ` prefix, or None when it converted."""
    try:
        convert(*job)
    except ConversionError as e:
        return str(e)
    except Exception as e:  # a fault of the tool itself: still one line, naming the input
        return '%s: unexpected error (%s: %s)' % (escape(job[0]), type(e).__name__, escape(str(e)))
    return None


def ignore_signal(signum, frame):
    """A handler that does nothing. Unlike SIG_IGN, it also takes a signal
    that came before it was set, which Python 3 would report as a race."""


class Interrupted(KeyboardInterrupt):
    """A stop signal, taken as Ctrl-C is; `signum` is the signal's number."""

    def __init__(self, signum):
        KeyboardInterrupt.__init__(self, signum)
        self.signum = signum


def interrupt(signum, frame):
    raise Interrupted(signum)


def handle_stop_signals(handler):
    """Sets the handler of each stop signal that was not ignored when the
    command started (nohup ignores SIGHUP, a shell's background job SIGINT);
    returns the handlers it replaced."""
    return dict((number, signal.signal(number, handler)) for number in STOP_SIGNALS
                if signal.getsignal(number) != signal.SIG_IGN)


def interrupt_worker(signum, frame):
    """A batch worker's handler of the stop signals: the first ends the
    conversion, through the clean-up of the temporary output; any more are ignored."""
    handle_stop_signals(ignore_signal)
    raise KeyboardInterrupt


def start_worker(job, interrupted):
    """Forks a process that converts one job and writes its error line, if
    any, to a pipe; returns (pid, the pipe's read end)."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        status = INTERRUPTED_STATUS
        try:
            handle_stop_signals(interrupt_worker)
            if interrupted:  # before the handlers above were set
                raise KeyboardInterrupt
            os.close(read_end)
            os.write(write_end, encoded(conversion_error(job) or '')[:LONGEST_REPORT])
            status = 0
        except BaseException:
            remove_unfinished()
        finally:
            os._exit(status)
    os.close(write_end)
    return pid, read_end


def worker_error(job, status, report):
    """The error line of a finished worker: its report, or what its exit status says."""
    if report:
        return decoded(report)
    if os.WIFSIGNALED(status):
        number = os.WTERMSIG(status)
        names = [name for name in dir(signal) if name.startswith('SIG') and '_' not in name
                 and getattr(signal, name) == number]
        return '%s: the worker converting it was killed by signal %d%s' % (
            escape(job[0]), number, ' (%s)' % names[0] if names else '')
    if os.WEXITSTATUS(status) != 0:
        return '%s: the worker converting it exited with status %d' % (escape(job[0]), os.WEXITSTATUS(status))
    return None


def wait_for_worker():
    """The pid and exit status of the next worker to end. A worker found
    stopped is continued: nothing in a batch stops one on purpose, and one
    left stopped would make the batch wait for ever (seen when a stop and a
    continue reached the process group while a worker was being forked)."""
    while True:
        try:
            pid, status = os.waitpid(-1, os.WUNTRACED)
        except OSError as e:  # Python 2 does not retry a wait interrupted by a signal it handles
            if e.errno != errno.EINTR:
                raise
            continue
        if not os.WIFSTOPPED(status):
            return pid, status
        try:
            os.kill(pid, signal.SIGCONT)
        except EnvironmentError:
            pass  # it has ended since


def run_jobs(jobs, workers):
    """Runs each job in a process of its own, `workers` at a time; yields
    each job's error line or None as it finishes. An interrupt (a stop signal) here
    only notes itself and stops the workers, so that no worker can be started
    and lost between a fork and its bookkeeping; once every worker has ended
    (each removing its temporary output), Interrupted is raised."""
    waiting, running, interrupted = list(reversed(jobs)), {}, []

    def stop_workers(signum=None, frame=None):
        if signum is not None:
            interrupted.append(signum)
        for pid in list(running):
            for number in (signal.SIGTERM, signal.SIGCONT):  # a stopped worker must go on to end
                try:
                    os.kill(pid, number)
                except EnvironmentError:
                    pass

    previous = handle_stop_signals(stop_workers)
    try:
        while running or (waiting and not interrupted):
            while waiting and not interrupted and len(running) < workers:
                job = waiting.pop()
                pid, read_end = start_worker(job, interrupted)
                running[pid] = job, read_end
            if interrupted:
                stop_workers()  # those started as the interrupt came, too
            pid, status = wait_for_worker()
            if pid not in running:
                continue
            job, read_end = running.pop(pid)
            with os.fdopen(read_end, 'rb') as report:
                error = worker_error(job, status, report.read())
            if status != 0:  # the worker died or was stopped: remove what it was writing
                remove_temporaries(pid, os.path.dirname(os.path.realpath(job[1])))
            if not interrupted:
                yield error
    finally:
        # Left early (an error, or the generator closed): end the workers all the same.
        if running:
            stop_workers()
            while running:
                pid, _ = wait_for_worker()
                if pid in running:
                    job, read_end = running.pop(pid)
                    os.close(read_end)
                    remove_temporaries(pid, os.path.dirname(os.path.realpath(job[1])))
        for number, handler in previous.items():
            signal.signal(number, handler)
    if interrupted:
        raise Interrupted(interrupted[0])


def output_name(folder, source):
    base = os.path.basename(source)
    if base.lower().endswith('.dds'):
        base = base[:-4]
    return os.path.join(folder, base + '.png')


def file_identity(path):
    try:
        found = os.stat(path)
    except EnvironmentError:
        return None
    return found.st_dev, found.st_ino


def refuse_inputs_as_outputs(sources, targets):
    """The error line for the first output that is one of the batch's inputs,
    by path or as the same file; None when there is none."""
    by_path = dict((os.path.realpath(source), source) for source in sources)
    by_identity = dict((file_identity(source), source) for source in sources)
    by_identity.pop(None, None)
    for target in targets:
        source = by_path.get(os.path.realpath(target)) or by_identity.get(file_identity(target))
        if source is not None:
            return '%s: is the input %s; nothing was converted' % (escape(target), escape(source))
    return None


def run_batch(parser, args):
    if not os.path.isdir(args.output_dir):
        parser.error('%s: not a directory' % escape(args.output_dir))
    jobs, seen = [], {}
    for source in args.paths:
        target = output_name(args.output_dir, source)
        if target in seen:
            parser.error('%s and %s would both be written to %s' % (escape(seen[target]), escape(source),
                                                                   escape(target)))
        seen[target] = source
        jobs.append((source, target, args.level, args.layer))
    clash = refuse_inputs_as_outputs(args.paths, [job[1] for job in jobs])
    if clash:
        say('dds2png: ' + clash)
        return 2
    # Each decoding call holds the interpreter lock, so processes, not threads,
    # use the cores; a process for each file keeps any fault to that file.
    workers = min(len(jobs), os.sysconf('SC_NPROCESSORS_ONLN'))
    progress = os.isatty(2)
    failed = 0
    results = run_jobs(jobs, workers)
    try:
        for done, error in enumerate(results, 1):
            if progress:
                write_error('\r\033[K')
            if error:
                failed += 1
                say('dds2png: ' + error)
            if progress:
                write_error('dds2png: %d of %d' % (done, len(jobs)))
    finally:
        results.close()  # ends the workers if the loop ended early
        if progress:
            write_error('\r\033[K')
    say('dds2png: %d converted, %d failed' % (len(jobs) - failed, failed))
    return 1 if failed else 0


class Version(argparse.Action):
    """--version: prints the package's version on standard output, as GNU tools do."""

    def __init__(self, option_strings, dest, **kwargs):
        argparse.Action.__init__(self, option_strings, dest, nargs=0, help='print the version and exit')

    def __call__(self, parser, namespace, values, option_string=None):
        write_standard_output('dds2png %s\n' % package_version())
        parser.exit(0)


class Parser(argparse.ArgumentParser):
    """argparse's parser, writing through the descriptors: its own writes
    end in a traceback (Python 2), or in the wrong stream (Python 3), when
    standard output or standard error is closed or full."""

    def print_help(self, file=None):
        write_standard_output(self.format_help())

    def error(self, message):
        """A usage error: status 2, whether or not standard error takes the usage."""
        write_error('%s%s: error: %s\n' % (self.format_usage(), self.prog, message))
        self.exit(2)


def package_version():
    """The installed package's version, or the one the source tree defines."""
    if INSTALLED_VERSION:
        return INSTALLED_VERSION
    try:
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), PACKAGE_DEFINITION)) as f:
            return str(json.load(f)['version'])
    except (EnvironmentError, ValueError, KeyError):
        return 'unknown (neither installed nor in its source tree)'


def guard_standard_streams():
    """Puts /dev/null, read-only, in place of a closed standard stream, so
    that no file opened later takes its number and writes to it fail."""
    for fd in (0, 1, 2):
        try:
            os.fstat(fd)
        except EnvironmentError:
            closed_streams.add(fd)
            os.open(os.devnull, os.O_RDONLY)  # the lowest free number: fd


def main(argv=None):
    guard_standard_streams()
    try:
        handle_stop_signals(interrupt)
    except ValueError:
        pass  # main() called from another thread, where no handler can be set: Ctrl-C is the main thread's
    parser = Parser(
        prog='dds2png', description='Converts DXT1 (BC1) DDS textures to 8-bit RGB PNG files.',
        usage='%(prog)s [--level N] [--layer K] INPUT OUTPUT\n'
              '       %(prog)s [--level N] [--layer K] -o DIR INPUT...')
    parser.add_argument('paths', nargs='+', metavar='PATH',
                        help='INPUT and OUTPUT (- for standard output), or with -o the inputs')
    parser.add_argument('-o', '--output-dir', metavar='DIR', help='write DIR/<name>.png for every input')
    parser.add_argument('--level', type=int, default=0, metavar='N',
                        help='the mip level to convert (0, the default, is the full size)')
    parser.add_argument('--layer', type=int, metavar='K',
                        help='convert this layer alone (cube face, array element or volume slice), '
                             'rather than all of them stacked')
    parser.add_argument('--version', action=Version)
    try:
        args = parser.parse_args(argv)
        if args.level < 0 or (args.layer is not None and args.layer < 0):
            parser.error('--level and --layer count from 0')
        if args.output_dir is not None:
            return run_batch(parser, args)
        if len(args.paths) != 2:
            parser.error('give INPUT and OUTPUT, or -o DIR and the inputs')
        error = conversion_error((args.paths[0], args.paths[1], args.level, args.layer))
    except ConversionError as e:  # --version or --help, on a closed or full standard output
        error = str(e)
    except KeyboardInterrupt as e:
        handle_stop_signals(ignore_signal)
        remove_unfinished()
        say('dds2png: interrupted')
        return SIGNAL_STATUS + getattr(e, 'signum', signal.SIGINT)
    if error:
        say('dds2png: ' + error)
        return 2
    return 0


if __name__ == '__main__':
    sys.exit(main())
