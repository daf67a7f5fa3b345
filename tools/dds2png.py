#!/bin/sh
''''command -v python3 >/dev/null 2>&1 && exec python3 "$0" "$@"; exec python2.7 "$0" "$@" # '''
# The two lines above let the shell start whichever of python3 and python2.7
# the machine has; Python reads the second as a string and goes on here.
"""dds2png: converts DXT1 (BC1) textures in DDS files to 8-bit RGB PNG files.

    dds2png [--level N] [--layer K] INPUT OUTPUT     OUTPUT may be - (standard output)
    dds2png [--level N] [--layer K] -o DIR INPUT...  writes DIR/<name>.png for each

Reads DXT1 data behind the legacy header (FOURCC "DXT1") and behind the DX10
header (DXGI formats 70, 71 and 72). Sizes come from the width, height,
depth, mip count, array size and cube flags alone. A file with several 2D
layers (cube faces, array elements, volume slices) becomes one image of all
its layers stacked top to bottom in storage order, unless --layer picks one.

The surface is read through mmap and decoded with the _dxt1 module a block row
per call, straight from slices of the mapping. Each error is one line,
`dds2png: PATH: message`; a single conversion exits with status 2 on error
and leaves no partial output, a batch converts every good file and exits
with status 1 when any failed.
"""
import argparse
import errno
import mmap
import multiprocessing
import os
import stat
import struct
import sys
import tempfile
import zlib

import _dxt1

MAGIC = b'DDS '
HEADER_END = 128            # the magic (4 bytes) and the 124-byte header
DX10_HEADER_END = 148       # then the 20-byte DX10 header, when the FOURCC is "DX10"
MAX_DIMENSION = 32768
PNG_MAX_HEIGHT = (1 << 31) - 1
PNG_COMPRESSION = 6
IDAT_SIZE = 1 << 16         # compressed bytes gathered into one IDAT chunk

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

try:
    _buffer = buffer  # Python 2: a window on the mapping, without a copy

    def window(data, start, size):
        return _buffer(data, start, size)
except NameError:
    def window(data, start, size):
        return data[start:start + size]  # data is a memoryview: a slice copies nothing


class Failure(Exception):
    """What went wrong with one path; reported as `dds2png: PATH: message`."""

    def __init__(self, path, message):
        Exception.__init__(self, '%s: %s' % (path, message))


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
    """The image to write: which layers of which level, and the bytes they need."""

    def __init__(self, texture, level, layer):
        if level >= texture.levels:
            raise ValueError('no mip level %d: the file has %d' % (level, texture.levels))
        count = texture.layers(level)
        if layer is not None and layer >= count:
            raise ValueError('no layer %d: level %d has %d' % (layer, level, count))
        self.texture, self.level = texture, level
        self.width, self.height = texture.level_size(level)[:2]
        self.first, self.count = (layer, 1) if layer is not None else (0, count)
        self.surface = texture.surface_bytes(self.width, self.height)
        self.end = texture.layer_offset(level, self.first + self.count - 1) + self.surface

    def image_height(self):
        if self.height * self.count > PNG_MAX_HEIGHT:
            raise ValueError('%d layers of %d rows are too tall for a PNG' % (self.count, self.height))
        return self.height * self.count

    def rows(self, data):
        """The image rows, RGB, cropped to the width, layer after layer."""
        across = (self.width + 3) // 4
        row_bytes = 8 * across
        for layer in range(self.first, self.first + self.count):
            start = self.texture.layer_offset(self.level, layer)
            for top in range(0, self.height, 4):
                planes = _dxt1.decodeDXT1(window(data, start + row_bytes * (top // 4), row_bytes))
                for yo in range(min(4, self.height - top)):
                    yield planes[yo][:3 * self.width]


class Input(object):
    """An input file, mapped when it is a regular file, else read as far as needed."""

    def __init__(self, path):
        self.path, self.mapping, self.view = path, None, None
        try:
            self.file = open(path, 'rb')
            self.stat = os.fstat(self.file.fileno())
        except EnvironmentError as e:
            raise Failure(path, reason(e))
        if stat.S_ISDIR(self.stat.st_mode):
            raise Failure(path, 'is a directory')

    def load(self, level, layer):
        """Returns the plan and the data it reads, or raises Failure."""
        try:
            if stat.S_ISREG(self.stat.st_mode) and self.stat.st_size > 0:
                self.mapping = mmap.mmap(self.file.fileno(), 0, access=mmap.ACCESS_READ)
                self.view = self.mapping if str is bytes else memoryview(self.mapping)
                data, size = self.view, self.stat.st_size
                plan = Plan(Texture(self.mapping[:DX10_HEADER_END]), level, layer)
            else:
                # A stream or a device: read the header, then what the plan needs and no more.
                data = self.file.read(DX10_HEADER_END)
                plan = Plan(Texture(data), level, layer)
                data += self.file.read(max(0, plan.end - len(data)))
                size = len(data)
                data = data if str is bytes else memoryview(data)
        except ValueError as e:
            raise Failure(self.path, str(e))
        except EnvironmentError as e:
            raise Failure(self.path, reason(e))
        if size < plan.end:
            raise Failure(self.path, 'truncated surface data: %d bytes of %d'
                          % (size - plan.texture.data_start, plan.end - plan.texture.data_start))
        try:
            plan.image_height()
        except ValueError as e:
            raise Failure(self.path, str(e))
        return plan, data

    def close(self):
        try:
            if self.view is not None and self.view is not self.mapping:
                self.view.release()
            if self.mapping is not None:
                self.mapping.close()
        except BufferError:
            pass  # a traceback still holds a slice; the mapping closes when it goes
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


def write_output(path, source, write):
    """Runs write(file) on the output `path`, safely for the input and for what is there.

    A new path or a regular file gets a temporary file in its folder, renamed
    over it when complete and given the old file's permission bits; a symbolic
    link is written through to its target, as cp does; anything else that
    exists (a device, a FIFO), and every path under /dev and /proc, which
    name open files and devices, is written in place; `-` is standard output."""
    if path == '-':
        out = getattr(sys.stdout, 'buffer', sys.stdout)
        existing = os.fstat(out.fileno())
        if (existing.st_dev, existing.st_ino) == (source.st_dev, source.st_ino):
            raise Failure(path, 'standard output is the input file itself')
        write(out)
        out.flush()
        return
    try:
        existing = os.stat(path)
    except EnvironmentError as e:
        if e.errno != errno.ENOENT:
            raise Failure(path, reason(e))
        if os.path.islink(path):
            raise Failure(path, 'not writing through a dangling symbolic link')
        existing = None
    if existing is not None:
        if (existing.st_dev, existing.st_ino) == (source.st_dev, source.st_ino):
            raise Failure(path, 'is the input file itself')
        if stat.S_ISDIR(existing.st_mode):
            raise Failure(path, 'is a directory')
        if not stat.S_ISREG(existing.st_mode) or path.startswith(('/dev/', '/proc/')):
            with open(path, 'wb') as out:
                write(out)
            return
    target = os.path.realpath(path)
    if existing is not None and not os.access(target, os.W_OK):
        raise Failure(path, 'permission denied (the file is not writable)')
    fd, temp = tempfile.mkstemp(prefix='.dds2png-', suffix='.tmp', dir=os.path.dirname(target))
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
        else:
            umask = os.umask(0)
            os.umask(umask)
            os.chmod(temp, 0o666 & ~umask)
        os.rename(temp, target)
    except BaseException:
        os.unlink(temp)
        raise


def convert(source, target, level=0, layer=None):
    """Converts one file; raises Failure naming the path at fault."""
    reader = Input(source)
    try:
        plan, data = reader.load(level, layer)
        try:
            write_output(target, reader.stat,
                         lambda out: write_png(out, plan.width, plan.image_height(), plan.rows(data)))
        except EnvironmentError as e:
            raise Failure(target, reason(e))
    finally:
        reader.close()


def convert_quietly(job):
    """For a batch worker: returns the error line of one conversion, or None."""
    try:
        convert(*job)
    except Failure as e:
        return str(e)
    except MemoryError:
        return '%s: out of memory' % job[0]
    return None


def output_name(folder, source):
    base = os.path.basename(source)
    if base.lower().endswith('.dds'):
        base = base[:-4]
    return os.path.join(folder, base + '.png')


def run_batch(parser, args):
    if not os.path.isdir(args.output_dir):
        parser.error('%s: not a directory' % args.output_dir)
    jobs, seen = [], {}
    for source in args.paths:
        target = output_name(args.output_dir, source)
        if target in seen:
            parser.error('%s and %s would both be written to %s' % (seen[target], source, target))
        seen[target] = source
        jobs.append((source, target, args.level, args.layer))
    workers = min(len(jobs), multiprocessing.cpu_count())
    # Each call holds the interpreter lock, so processes, not threads, use the cores.
    pool = multiprocessing.Pool(workers) if workers > 1 else None
    results = pool.imap_unordered(convert_quietly, jobs) if pool else map(convert_quietly, jobs)
    progress = sys.stderr.isatty()
    failed = 0
    for done, error in enumerate(results, 1):
        if progress:
            sys.stderr.write('\r\033[K')
        if error:
            failed += 1
            sys.stderr.write('dds2png: %s\n' % error)
        if progress:
            sys.stderr.write('dds2png: %d of %d' % (done, len(jobs)))
        sys.stderr.flush()
    if pool:
        pool.close()
        pool.join()
    if progress:
        sys.stderr.write('\r\033[K')
    sys.stderr.write('dds2png: %d converted, %d failed\n' % (len(jobs) - failed, failed))
    return 1 if failed else 0


def main(argv=None):
    parser = argparse.ArgumentParser(
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
    args = parser.parse_args(argv)
    if args.level < 0 or (args.layer is not None and args.layer < 0):
        parser.error('--level and --layer count from 0')
    if args.output_dir is not None:
        return run_batch(parser, args)
    if len(args.paths) != 2:
        parser.error('give INPUT and OUTPUT, or -o DIR and the inputs')
    try:
        convert(args.paths[0], args.paths[1], args.level, args.layer)
    except Failure as e:
        sys.stderr.write('dds2png: %s\n' % e)
        return 2
    except MemoryError:
        sys.stderr.write('dds2png: %s: out of memory\n' % args.paths[0])
        return 2
    return 0


if __name__ == '__main__':
    sys.exit(main())
