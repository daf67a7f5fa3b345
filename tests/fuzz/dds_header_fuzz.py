"""Fuzzes dds2png's reading of DDS headers: legacy and DX10 headers with
extreme and random fields, followed by no, some or plenty of surface data,
each converted through a regular file and through a pipe.

    dds_header_fuzz.py [--cases N] [--seed S]       the stored cases, then N generated ones
    dds_header_fuzz.py --seconds T [--store]        generated cases for T seconds

Every case must end in a valid PNG of the size the header implies, the same
through the file and the pipe, or in one ConversionError naming the input,
the same message through both, with no output left; and info() must give
the same through both, saying the format converts where it did. Anything else (another
exception, a hang, a wrong image) is a finding: it is printed, and with
--store kept in the stored cases (dds-headers/ beside this file), which
every run replays first. A stored case's name is the SHA-1 of its bytes,
followed by `.level-N` and `.layer-K` when it was converted with those.
"""
import argparse
import hashlib
import os
import random
import shutil
import signal
import struct
import sys
import tempfile
import threading
import time
import traceback
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), 'tools'))
import dds2png  # noqa: E402

STORED = os.path.join(HERE, 'dds-headers')
CASE_SECONDS = 20            # a case that takes longer has hung
LARGEST_SURFACE = 1 << 20    # surface bytes a generated case carries at most

# Field values that sit on the edges the reader checks: block multiples,
# the dimension limit, the 32-bit limits.
EXTREME_SIZES = [0, 1, 2, 3, 4, 5, 7, 8, 255, 256, 4096, 32767, 32768, 32769, (1 << 31) - 1, 1 << 31,
                 (1 << 32) - 1]
EXTREME_COUNTS = [0, 1, 2, 6, 15, 16, 17, 255, 1 << 16, (1 << 31) - 1, (1 << 32) - 1]
CUBE_BITS = [0x200, 0x400, 0x800, 0x1000, 0x2000, 0x4000, 0x8000, 0x200000]
OTHER_FOURCCS = [b'DXT5', b'ATI2', b'\0\0\0\0', b'1TXD']


def pick(rng, extremes, small):
    """Mostly a small random value; else an extreme one, or any 32-bit one."""
    choice = rng.random()
    if choice < 0.7:
        return rng.randint(0, small)
    if choice < 0.95:
        return rng.choice(extremes)
    return rng.randint(0, (1 << 32) - 1)


def now_and_then(rng, usual, unusual, odds=0.05):
    return unusual() if rng.random() < odds else usual


def generate(rng):
    """Returns (blob, level, layer): a generated file and the options to convert it with.
    Most fields are plausible, so that most cases reach the size checks and the decoder."""
    width, height = pick(rng, EXTREME_SIZES, 64), pick(rng, EXTREME_SIZES, 64)
    depth = pick(rng, EXTREME_COUNTS, 4)
    levels = now_and_then(rng, rng.randint(0, max(width, height, 1).bit_length()),
                          lambda: pick(rng, EXTREME_COUNTS, 8), 0.2)
    caps2 = sum(bit for bit in CUBE_BITS if rng.random() < 0.15)
    fourcc = now_and_then(rng, rng.choice([b'DXT1', b'DX10']), lambda: rng.choice(OTHER_FOURCCS), 0.1)
    magic = now_and_then(rng, b'DDS ', lambda: b'DDS!')
    size = now_and_then(rng, 124, lambda: rng.choice([0, 123, 125, rng.randint(0, 255)]))
    pf_size = now_and_then(rng, 32, lambda: rng.choice([0, 31, 33, rng.randint(0, 255)]))
    pf_flags = now_and_then(rng, 0x4, lambda: rng.choice([0, 0x40, 0x20000, rng.randint(0, (1 << 32) - 1)]), 0.2)
    header = struct.pack('<4s7I', magic, size, 0x81007, height, width, pick(rng, [0], 1 << 20), depth, levels)
    header += b'\0' * 44 + struct.pack('<2I4s5I', pf_size, pf_flags, fourcc, 32, 0, 0, 0, 0)
    header += struct.pack('<5I', 0x1000, caps2, 0, 0, 0)
    layers = 6 if caps2 & 0x200 else 1
    if fourcc == b'DX10':
        array_size = pick(rng, EXTREME_COUNTS, 8)
        dxgi = now_and_then(rng, rng.choice([70, 71, 72]), lambda: rng.choice([98, 0, (1 << 32) - 1]))
        dimension = rng.choice([0, 3, 3, 3, 4, 4, now_and_then(rng, 2, lambda: rng.randint(0, 1 << 32 - 1))])
        misc = rng.choice([0, 0, 4, now_and_then(rng, 0, lambda: rng.randint(0, 1 << 32 - 1))])
        header += struct.pack('<5I', dxgi, dimension, misc, array_size, 0)
        layers = 6 * max(1, array_size)
    # Surface data: none, a little, or enough for every layer's mip chain when that is small.
    blocks = ((min(width, 1 << 16) + 3) // 4) * ((min(height, 1 << 16) + 3) // 4)
    enough = 2 * 8 * blocks * max(1, min(depth, 1 << 16)) * min(layers, 1 << 16)
    choice = rng.random()
    if choice < 0.6 and enough <= LARGEST_SURFACE:
        surface = max(0, enough + rng.choice([0, 0, 0, -1, -8, 1]))
    elif choice < 0.85:
        surface = rng.randint(0, 4096)
    else:
        surface = 0
    pattern = bytearray(rng.getrandbits(8) for _ in range(64))
    blob = header + bytes(pattern * (surface // 64 + 1))[:surface]
    if rng.random() < 0.03:
        blob = blob[:rng.randint(0, len(header))]  # a truncated header
    level = now_and_then(rng, 0, lambda: rng.choice([1, 2, 17]), 0.15)
    layer = now_and_then(rng, None, lambda: rng.choice([0, 1, 5, 6]), 0.15)
    return blob, level, layer


def read_png(path):
    """Returns (width, height) of a complete, valid 8-bit RGB or RGBA PNG, or raises AssertionError."""
    with open(path, 'rb') as f:
        blob = f.read()
    assert blob[:8] == b'\x89PNG\r\n\x1a\n', 'no PNG signature'
    position, kinds, idat, ihdr = 8, [], [], None
    while position < len(blob):
        length, kind = struct.unpack('>I4s', blob[position:position + 8])
        payload = blob[position + 8:position + 8 + length]
        crc = struct.unpack('>I', blob[position + 8 + length:position + 12 + length])[0]
        assert zlib.crc32(kind + payload) & 0xffffffff == crc, 'bad CRC'
        kinds.append(kind)
        if kind == b'IHDR':
            ihdr = struct.unpack('>2I5B', payload)
        elif kind == b'IDAT':
            idat.append(payload)
        position += 12 + length
    assert kinds[0] == b'IHDR' and kinds[-1] == b'IEND', 'chunks %r' % kinds
    width, height = ihdr[:2]
    assert ihdr[2:] in [(8, 2, 0, 0, 0), (8, 6, 0, 0, 0)], 'IHDR %r' % (ihdr,)
    pixel_bytes = 4 if ihdr[3] == 6 else 3  # RGBA where a pixel is transparent
    assert len(zlib.decompress(b''.join(idat))) == height * (1 + pixel_bytes * width), 'wrong amount of pixel data'
    return width, height


def implied_size(blob, level):
    """What the header says the image's width and one layer's height are."""
    height, width = struct.unpack('<2I', blob[12:20])
    return max(1, width >> level), max(1, height >> level)


class Finding(Exception):
    pass


class Hang(Exception):
    pass


def on_alarm(signum, frame):
    raise Hang('no result after %d seconds' % CASE_SECONDS)


def feed(write_end, blob):
    position = 0
    try:
        while position < len(blob):
            position += os.write(write_end, blob[position:position + (1 << 16)])
    except EnvironmentError:
        pass  # the converter stopped reading: its result is checked
    finally:
        os.close(write_end)


def convert(folder, source, level, layer):
    """Converts `source`; returns ('png', size, bytes) or ('error', message with the path as PATH)."""
    target = os.path.join(folder, 'out.png')
    signal.alarm(CASE_SECONDS)
    try:
        dds2png.convert(source, target, level, layer)
    except dds2png.ConversionError as e:
        message = str(e)
        if e.path != source or not message.startswith(source + ': ') or '\n' in message:
            raise Finding('the error names %r, not the input %r, or is not one line: %r' % (e.path, source, message))
        if os.listdir(folder) != []:
            raise Finding('output left after an error: %r' % os.listdir(folder))
        return 'error', 'PATH' + message[len(source):]
    finally:
        signal.alarm(0)
    size = read_png(target)
    with open(target, 'rb') as f:
        png = f.read()
    os.remove(target)
    if os.listdir(folder) != []:
        raise Finding('files left beside the output: %r' % os.listdir(folder))
    return 'png', size, png


def describe(source):
    """dds2png.info(source) as ('info', its fields) or ('error', the message with the path as PATH)."""
    signal.alarm(CASE_SECONDS)
    try:
        return 'info', dds2png.info(source)
    except dds2png.ConversionError as e:
        return 'error', 'PATH' + str(e)[len(source):]
    finally:
        signal.alarm(0)


def through_pipe(blob, run):
    """run() of a pipe's path, the case fed into the pipe by another thread."""
    read_end, write_end = os.pipe()
    feeder = threading.Thread(target=feed, args=(write_end, blob))
    feeder.start()
    try:
        return run('/dev/fd/%d' % read_end)
    finally:
        os.close(read_end)
        feeder.join()


def check(blob, level, layer, folder):
    """Converts the case through a file and a pipe; raises Finding when the result breaks a promise."""
    source = os.path.join(folder, 'case.dds')
    with open(source, 'wb') as f:
        f.write(blob)
    out = os.path.join(folder, 'out')
    os.mkdir(out)
    try:
        through_file = convert(out, source, level, layer)
        piped = through_pipe(blob, lambda name: convert(out, name, level, layer))
    finally:
        shutil.rmtree(out)
    if through_file != piped:
        raise Finding('a file and a pipe give different results: %r and %r' % (through_file[:2], piped[:2]))
    # --info describes any header the converter reads, the same through both.
    described = describe(source), through_pipe(blob, describe)
    if described[0] != described[1]:
        raise Finding('info() of a file and of a pipe differ: %r and %r' % described)
    if through_file[0] == 'png' and (described[0][0] != 'info' or not described[0][1].decoded):
        raise Finding('converted, yet info() gives %r' % (described[0],))
    if through_file[0] == 'png':
        width, layer_height = implied_size(blob, level)
        (got_width, got_height) = through_file[1]
        if got_width != width or got_height % layer_height or (layer is not None and got_height != layer_height):
            raise Finding('a %dx%d PNG where the header implies %d wide, layers of %d rows%s'
                          % (got_width, got_height, width, layer_height, '' if layer is None else ', one layer'))


def stored_cases():
    cases = []
    for name in sorted(os.listdir(STORED)) if os.path.isdir(STORED) else []:
        options = dict(part.split('-', 1) for part in name.split('.')[1:])
        with open(os.path.join(STORED, name), 'rb') as f:
            cases.append((name, f.read(), int(options.get('level', 0)),
                          int(options['layer']) if 'layer' in options else None))
    return cases


def case_name(blob, level, layer):
    return hashlib.sha1(blob).hexdigest() + ('.level-%d' % level if level else '') + \
        ('.layer-%d' % layer if layer is not None else '')


def run(cases, folder, store):
    """Checks each (name, blob, level, layer); returns how many were findings."""
    findings = 0
    for name, blob, level, layer in cases:
        case_folder = os.path.join(folder, 'case')
        os.mkdir(case_folder)
        try:
            check(blob, level, layer, case_folder)
        except Exception as e:
            findings += 1
            detail = str(e) if isinstance(e, Finding) else traceback.format_exc()
            sys.stdout.write('FINDING %s (%d bytes, level %d, layer %s): %s\n' % (name, len(blob), level, layer,
                                                                              detail.strip()))
            if store:
                if not os.path.isdir(STORED):
                    os.mkdir(STORED)
                with open(os.path.join(STORED, case_name(blob, level, layer)), 'wb') as f:
                    f.write(blob)
        finally:
            shutil.rmtree(case_folder)
    return findings


def generated(seed, count=None, seconds=None):
    rng = random.Random(seed)
    end = time.time() + seconds if seconds is not None else None
    n = 0
    while (count is None or n < count) and (end is None or time.time() < end):
        blob, level, layer = generate(rng)
        yield 'seed %d case %d' % (seed, n), blob, level, layer
        n += 1


def main():
    parser = argparse.ArgumentParser(description='Fuzzes the DDS header reading of dds2png.')
    parser.add_argument('--cases', type=int, default=300, help='generated cases after the stored ones')
    parser.add_argument('--seed', type=int, default=1)
    parser.add_argument('--seconds', type=float, help='generate cases for this long (with a random seed)')
    parser.add_argument('--store', action='store_true', help='keep each finding in ' + STORED)
    args = parser.parse_args()
    signal.signal(signal.SIGALRM, on_alarm)
    folder = tempfile.mkdtemp(prefix='dds-header-fuzz-')
    try:
        stored = stored_cases()
        findings = run(stored, folder, False)
        if args.seconds is not None:
            seed = random.SystemRandom().randint(0, 1 << 30)
            cases = generated(seed, seconds=args.seconds)
        else:
            seed, cases = args.seed, generated(args.seed, count=args.cases)
        counted = [0]

        def counting():
            for case in cases:
                counted[0] += 1
                yield case
        findings += run(counting(), folder, args.store)
    finally:
        shutil.rmtree(folder)
    sys.stdout.write('dds header fuzz: %d stored and %d generated cases (seed %d), %d findings\n'
                     % (len(stored), counted[0], seed, findings))
    return 1 if findings else 0


if __name__ == '__main__':
    sys.exit(main())
