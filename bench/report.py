#!/usr/bin/env python
"""Runs the benchmarks and prints a short table of medians and ratios.

usage: report.py DECODER_BENCH INSTRUCTION_COUNT [--module PYTHON MODULE_DIR]...
                 [--bc7-bench BC7_BENCH] [--emulated-counter COUNTER]

The decoder benchmark's repetitions are interleaved at random with the memset
floor's, and each variant's RGB with its RGBA decoder's, so each ratio
compares figures taken in the same run. Instructions
per block are counted by callgrind when valgrind is present, and for another
CPU (64-bit ARM) by qemu-user's trace when a cross-built counter is given.
"""
import argparse
import binascii
import hashlib
import json
import os
import re
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MODULE_BENCH = os.path.join(HERE, 'module_bench.py')
SAMPLE = os.path.join(os.path.dirname(HERE), 'samples', 'logo.dds')
IMAGE_LIBRARY = ['/usr/bin/python3', '-c', 'import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])']
COUNT_BLOCKS = 65536


def run_decoder_bench(binary):
    fd, out = tempfile.mkstemp(suffix='.json')
    os.close(fd)
    try:
        with open(os.devnull, 'w') as quiet:
            subprocess.check_call([binary, '--benchmark_repetitions=9', '--benchmark_enable_random_interleaving=true',
                                   '--benchmark_min_time=0.05', '--benchmark_out=' + out,
                                   '--benchmark_out_format=json', '--benchmark_report_aggregates_only=true'],
                                  stdout=quiet, stderr=quiet)
        with open(out) as f:
            report = json.load(f)
    finally:
        os.unlink(out)
    medians = {}
    for result in report['benchmarks']:
        if result.get('aggregate_name') == 'median':
            medians[result['run_name']] = result['real_time'] * {'ns': 1, 'us': 1e3, 'ms': 1e6}[result['time_unit']]
    # The benchmark names the variants it ran in the decoder's own order, slowest first.
    return report['context']['variants'].split(','), medians


def count_instructions(binary, variant, rgba=False):
    # Collected inside the counter's one call of the variant's decoder.
    function = 'countedDecode*'
    try:
        output = subprocess.check_output(
            ['valgrind', '--tool=callgrind', '--callgrind-out-file=' + os.devnull, '--collect-atstart=no',
             '--toggle-collect=' + function, binary] + (['--rgba'] if rgba else []) + [variant, str(COUNT_BLOCKS)],
            stderr=subprocess.STDOUT).decode('utf-8', 'replace')
    except (OSError, subprocess.CalledProcessError):
        return None
    match = re.search(r'Collected : (\d+)', output)
    return int(match.group(1)) / float(COUNT_BLOCKS) if match else None


EMULATED_COUNT_BLOCKS = 4096


def count_instructions_emulated(counter, variant, options=()):
    """Instructions per block of `variant` in a counter that runs under
    qemu-user. Its single-step trace has one line starting 'Trace' per
    instruction executed; the counter decodes the same blocks once and then
    three times, so the difference is two decodes, without the set-up."""
    folder = tempfile.mkdtemp()
    fifo = os.path.join(folder, 'trace')
    totals = []
    try:
        for times in (1, 3):
            os.mkfifo(fifo)
            # grep counts the lines as they come: the trace is about 90 bytes an instruction.
            lines = subprocess.Popen(['grep', '-c', '^Trace', fifo], stdout=subprocess.PIPE)
            env = dict(os.environ, QEMU_SINGLESTEP='1', QEMU_LOG='nochain,exec', QEMU_LOG_FILENAME=fifo)
            with open(os.devnull, 'w') as quiet:
                status = subprocess.call([counter] + list(options)
                                         + [variant, str(EMULATED_COUNT_BLOCKS), str(times)],
                                         env=env, stdout=quiet, stderr=quiet)
            if status != 0:
                try:  # qemu never opened the trace: let grep see its end
                    os.close(os.open(fifo, os.O_WRONLY | os.O_NONBLOCK))
                except OSError:
                    pass
            totals.append(int(lines.communicate()[0] or 0))
            os.unlink(fifo)
            if status != 0:
                return None
    finally:
        shutil.rmtree(folder)
    return (totals[1] - totals[0]) / 2.0 / EMULATED_COUNT_BLOCKS


def print_emulated_counts(counter):
    try:
        variants = subprocess.check_output([counter, '--variants']).decode('ascii').split()
    except (OSError, subprocess.CalledProcessError):
        print('64-bit ARM: %s does not run (no instruction counts)' % counter)
        return
    # Each format and rule counted once (every count is two slow emulated
    # runs); DXT1's rows are the family's bc1 and bc1a under the design rule.
    family = dict(((name, rule, v), count_instructions_emulated(counter, v, ('--format', name, '--rule', rule)))
                  for name in FAMILY_ORDER for rule in ('design', 'gpu') for v in variants)
    print('%-8s' % 'aarch64' + ''.join('%14s' % v for v in variants))
    for label, name in (('instr', 'bc1'), ('rgba', 'bc1a')):
        counts = [family[name, 'design', v] for v in variants]
        print('%-8s' % label + ''.join('%14s' % ('%.1f' % c if c is not None else 'n/a') for c in counts)
              + ('   (qemu single-step trace, %d random blocks; no times under emulation)' % EMULATED_COUNT_BLOCKS
                 if name == 'bc1' else '   (instructions per block decoding to RGBA)'))
    # The block family: each format and rule, and its multiple of DXT1A's count (bc1a, design).
    print('block family, instructions per block, and as a multiple of DXT1A in the same variant:')
    for name in FAMILY_ORDER:
        for rule in ('design', 'gpu'):
            cells = []
            for v in variants:
                c, base = family[name, rule, v], family['bc1a', 'design', v]
                cells.append('%16s' % ('%.1f %5.2fx' % (c, c / base) if c is not None and base else 'n/a'))
            print('%-12s' % ('%s-%s' % (name, rule)) + ''.join(cells))


# The C library's heap hands a freed block of this size or more back to the
# system at once by default; with these raised it keeps the memory for the
# next call.
KEEP_FREED_MEMORY = {'MALLOC_MMAP_THRESHOLD_': str(32 << 20), 'MALLOC_TRIM_THRESHOLD_': str(256 << 20)}


def run_module_bench(python, module_dir, extra_env=None):
    env = dict(os.environ, PYTHONPATH=module_dir)
    env.update(extra_env or {})
    return json.loads(subprocess.check_output([python, MODULE_BENCH], env=env).decode('ascii'))


# Noise over the tiled sample's blocks, so that the image compresses about
# as well and as slowly as a photograph: every colour index, and the low two
# bits of each endpoint's red, green and blue (RGB565), drawn at random.
PHOTO_NOISE_MASK = struct.pack('<2H4B', 0x39E7, 0x39E7, 0xFF, 0xFF, 0xFF, 0xFF)
PHOTO_NOISE_SEED = b'dds2png bench'


def noise(size):
    """`size` bytes of noise, the same on every run: SHA-256 of a counter."""
    blocks = [hashlib.sha256(PHOTO_NOISE_SEED + struct.pack('<I', n)).digest() for n in range(-(-size // 32))]
    return b''.join(blocks)[:size]


def as_number(data):
    return int(binascii.hexlify(data), 16)


def opaque(surface):
    """The surface with every block in the four-colour mode (first endpoint
    greater), as a photograph's texture is: the noise makes some blocks
    three-colour, whose index 3 would make the PNG RGBA."""
    blocks = bytearray(surface)
    for offset in range(0, len(blocks), 8):
        c0, c1 = struct.unpack_from('<2H', blocks, offset)
        if c0 < c1:
            struct.pack_into('<2H', blocks, offset, c1, c0)
        elif c0 == c1:
            struct.pack_into('<2H', blocks, offset, c0 or 1, c0 - 1 if c0 else 0)
    return bytes(blocks)


def large_texture(path, size=4096):
    """A size x size DXT1 file tiled from the sample's blocks, with noise
    added, so that it compresses like a photograph rather than like the
    flat-coloured sample (which zlib takes many times faster)."""
    with open(SAMPLE, 'rb') as f:
        sample = f.read()
    height, width = struct.unpack('<2I', sample[12:20])
    across = width // 4
    rows = [sample[128 + 8 * across * m:128 + 8 * across * (m + 1)] for m in range(height // 4)]
    surface = b''.join(rows[m % len(rows)] * (size // width) for m in range(size // 4))
    mixed = as_number(surface) ^ (as_number(noise(len(surface))) & as_number(PHOTO_NOISE_MASK * (len(surface) // 8)))
    surface = opaque(binascii.unhexlify('%0*x' % (2 * len(surface), mixed)))
    header = sample[:12] + struct.pack('<3I', size, size, len(surface)) + sample[24:128]
    with open(path, 'wb') as f:
        f.write(header + surface)


# BC6H's mode 11 (one region, 10-bit endpoints, untransformed) in the low
# five bits of a block's first byte; the rest of each block is noise: values
# from 0 to 65504, as a bright HDR photograph's texture holds.
BC6H_MODE_11, BC6H_MODE_MASK = 0x03, 0x1F
DXGI_BC6H_UF16 = 95


def bc6h_texture(path, size=4096):
    """A size x size BC6H file (DX10 header) of mode-11 blocks of noise."""
    blocks = bytearray(noise(size * size))
    blocks[0::16] = bytearray((b & ~BC6H_MODE_MASK) | BC6H_MODE_11 for b in blocks[0::16])
    with open(SAMPLE, 'rb') as f:
        sample = f.read(128)
    header = sample[:12] + struct.pack('<3I', size, size, len(blocks)) + sample[24:84] + b'DX10' + sample[88:128]
    with open(path, 'wb') as f:
        f.write(header + struct.pack('<5I', DXGI_BC6H_UF16, 3, 0, 1, 0) + bytes(blocks))


def compare_targets(tool, folder, runs=5):
    """A BC6H file to its 8-bit PNG, its 16-bit PNG (the default) and OpenEXR, in one run, interleaved."""
    source = os.path.join(folder, 'hdr.dds')
    bc6h_texture(source)
    print('')
    print('4096 x 4096 BC6H file of noise, whole processes (medians of %d, interleaved):' % runs)
    with open(os.devnull, 'w') as quiet:
        if subprocess.call([tool, source, os.path.join(folder, 'hdr.png')], stdout=quiet, stderr=quiet) != 0:
            print('  (this build\'s _bcn does not decode BC6H: no figures)')
            return
    commands = [('8-bit PNG', ['--depth', '8', source, os.path.join(folder, 'hdr.png')]),
                ('16-bit PNG', [source, os.path.join(folder, 'hdr.png')]),
                ('OpenEXR', [source, os.path.join(folder, 'hdr.exr')])]
    seconds = dict((name, []) for name, _ in commands)
    for _ in range(runs):
        for name, arguments in commands:
            seconds[name].append(timed([tool] + arguments)[0])
    eight = median(seconds['8-bit PNG'])
    for name, _ in commands:
        taken = median(seconds[name])
        print('  %-12s %6.3f s, %.2fx the 8-bit PNG' % (name + ':', taken, taken / eight))


# One core's zlib over the rows the converter compresses, in the converter's
# own interpreter: decodes the file, then times zlib.compress of the filtered
# rows alone; prints the seconds and the compressed size.
ONE_CORE_ZLIB = """
import sys, time, zlib, dds2png
width, height, pixels = dds2png.read(sys.argv[1])
stride = 3 * width
rows = b''.join(b'\\0' + bytes(pixels[y * stride:(y + 1) * stride]) for y in range(height))
start = time.time()
size = len(zlib.compress(rows, int(sys.argv[2])))
print('%r %d' % (time.time() - start, size))
"""


def one_core_zlib(python, source, level):
    """(seconds, bytes) of zlib.compress at `level` over the file's filtered rows, one core."""
    seconds, size = subprocess.check_output([python, '-c', ONE_CORE_ZLIB, source, str(level)]).split()
    return float(seconds), int(size)


def timed(command):
    """Wall seconds and the children's CPU seconds of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.time()
    with open(os.devnull, 'w') as quiet:
        subprocess.check_call(command, stdout=quiet, stderr=quiet)
    wall = time.time() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def compare_tool(tool, runs=7):
    """The converter on a photo-like file: in threads (its default), in one
    thread, against one core's zlib over the same rows (level 6, as the
    converter's default) and against the image library; then a batch."""
    python = os.path.join(os.path.dirname(tool), 'python')  # the interpreter and module the tool runs with
    folder = tempfile.mkdtemp()
    try:
        source = os.path.join(folder, 'large.dds')
        large_texture(source)
        target = os.path.join(folder, 'large.png')
        print('')
        print('4096 x 4096 photo-like DXT1 file to PNG, whole processes (medians of %d, interleaved; %d cores):'
              % (runs, os.sysconf('SC_NPROCESSORS_ONLN')))
        parallel, serial, flat, zlib_seconds, theirs = [], [], [], [], []
        try:
            subprocess.check_call(IMAGE_LIBRARY[:2] + ['import PIL'])
        except (OSError, subprocess.CalledProcessError):
            print('  (the image library, Debian\'s python3-pil, is not installed: no comparison)')
            theirs = None
        for _ in range(runs):
            parallel.append(timed([tool, source, target])[0])
            png_size = os.path.getsize(target)
            serial.append(timed([tool, '--threads', '1', source, target])[0])
            flat.append(timed([tool, '--opaque', source, target])[0])
            seconds, zlib_size = one_core_zlib(python, source, 6)
            zlib_seconds.append(seconds)
            if theirs is not None:
                theirs.append(timed(IMAGE_LIBRARY + [source, target])[0])
        one_core = median(zlib_seconds)
        print('  one core\'s zlib, level 6, over the rows: %6.3f s, %d bytes (compression alone)'
              % (one_core, zlib_size))
        print('  dds2png, threads:           %6.3f s, %.2fx that zlib; PNG %d bytes, %+.2f%% of its size'
              % (median(parallel), median(parallel) / one_core, png_size, 100.0 * (png_size - zlib_size) / zlib_size))
        print('  dds2png --threads 1:        %6.3f s, %.2fx that zlib' % (median(serial), median(serial) / one_core))
        print('  dds2png --opaque:           %6.3f s; looking for transparency costs %+.1f%%'
              % (median(flat), 100.0 * (median(parallel) - median(flat)) / median(flat)))
        if theirs is not None:
            print('  the image library:          %6.3f s, %.1fx the time of dds2png'
                  % (median(theirs), median(theirs) / median(parallel)))
        batch = [os.path.join(folder, 'large%d.dds' % i) for i in range(8)]
        for path in batch:
            shutil.copy(source, path)
        out = os.path.join(folder, 'out')
        os.mkdir(out)
        runs_of_batch = [timed([tool, '-o', out] + batch) for _ in range(3)]
        wall, cpu = median([r[0] for r in runs_of_batch]), median([r[1] for r in runs_of_batch])
        print('  a batch of 8 files:         %6.3f s, %.1fx one file; %.2f CPU seconds a wall second'
              % (wall, wall / median(parallel), cpu / wall))
        compare_targets(tool, folder)
    finally:
        shutil.rmtree(folder)


# dds2png.read of 4096 x 4096 surfaces of a block format and of layouts, in
# mode RGBA, in one run of the converter's interpreter, interleaved; prints
# each file's median seconds as JSON. The surfaces are noise: layouts decode
# at the same speed whatever their pixels.
LAYOUT_READS = """
import json, sys, time, dds2png
paths, runs = sys.argv[2:], int(sys.argv[1])
seconds = dict((path, []) for path in paths)
for _ in range(runs):
    for path in paths:
        start = time.time()
        dds2png.read(path, mode='RGBA')
        seconds[path].append(time.time() - start)
print(json.dumps(dict((path, sorted(times)[len(times) // 2]) for path, times in seconds.items())))
"""
# (name, DXGI format, bytes a pixel, or None for BC1's 8 bytes a 4 x 4 block).
LAYOUT_BENCH_FORMATS = [('BC1', 71, None), ('B8G8R8A8', 87, 4), ('B5G6R5', 85, 2), ('R16G16B16A16_FLOAT', 10, 8)]


def layout_file(path, dxgi, pixel_bytes, size=4096):
    """A size x size DX10 file of one DXGI format, its surface noise."""
    surface = noise(size * size // 2 if pixel_bytes is None else size * size * pixel_bytes)
    header = struct.pack('<4s7I', b'DDS ', 124, 0x1007, size, size, 0, 0, 1) + b'\0' * 44
    header += struct.pack('<2I4s5I', 32, 4, b'DX10', 0, 0, 0, 0, 0) + struct.pack('<5I', 0x1000, 0, 0, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + struct.pack('<5I', dxgi, 3, 0, 1, 0) + surface)


def print_layout_reads(python, module_dir, runs=5):
    """read() of layout surfaces as a multiple of read() of BC1's, same size and mode."""
    folder = tempfile.mkdtemp()
    try:
        paths = []
        for name, dxgi, pixel_bytes in LAYOUT_BENCH_FORMATS:
            paths.append(os.path.join(folder, name + '.dds'))
            layout_file(paths[-1], dxgi, pixel_bytes)
        env = dict(os.environ, PYTHONPATH=os.pathsep.join([module_dir, os.path.join(os.path.dirname(HERE), 'tools')]))
        medians = json.loads(subprocess.check_output([python, '-c', LAYOUT_READS, str(runs)] + paths, env=env)
                             .decode('ascii'))
    finally:
        shutil.rmtree(folder)
    bc1 = medians[paths[0]]
    print('  %s: %s' % (os.path.basename(python), ', '.join(
        '%s %.2f s (%.2fx)' % (name, medians[path], medians[path] / bc1)
        for (name, _, _), path in zip(LAYOUT_BENCH_FORMATS, paths))))


def print_bc7(binary):
    """BC7 per variant and per mode: the table that bc7-bench prints after its
    console lines."""
    with open(os.devnull, 'w') as quiet:
        output = subprocess.check_output([binary, '--benchmark_color=false'], stderr=quiet).decode('utf-8')
    lines = output.splitlines()
    start = next((n for n, line in enumerate(lines) if line.startswith('Median ns per block')), None)
    if start is not None:
        print('')
        print('BC7 on runs of 4096 random blocks of each mode alone, and mixed, CPU time: ' + lines[start][0].lower()
              + lines[start][1:])
        for line in lines[start + 1:]:
            print(line)


def print_family(variants, medians):
    """The block family's table: each format and rule per variant, per block
    and against DXT1A (bc1a, design) in the same variant."""
    names = sorted(set(name.split(':')[2].split('/')[0] for name in medians if name.startswith('family:')),
                   key=lambda n: FAMILY_ORDER.index(n.split('-')[0]) * 2 + (n.endswith('-gpu')))
    if not names:
        return
    blocks = FAMILY_BLOCKS
    print('')
    print('The block family on runs of %d random blocks: ns per block, and as a multiple of DXT1A' % blocks)
    print('(bc1a, design rule) in the same variant (medians of 9, interleaved):')
    print('%-12s' % 'format' + ''.join('%16s' % v for v in variants))
    for name in names:
        cells = []
        for v in variants:
            own = medians.get('family:%s:%s/%d' % (v, name, blocks))
            base = medians.get('family:%s:bc1a-design/%d' % (v, blocks))
            cells.append('%.2f %5.2fx' % (own / blocks, own / base) if own and base else 'n/a')
        print('%-12s' % name + ''.join('%16s' % c for c in cells))
    print('gpu rule as a multiple of the design rule, same variant and format:')
    for name in names:
        if not name.endswith('-gpu'):
            continue
        design = name[:-len('-gpu')] + '-design'
        cells = []
        for v in variants:
            gpu, base = (medians.get('family:%s:%s/%d' % (v, n, blocks)) for n in (name, design))
            cells.append('%.2fx' % (gpu / base) if gpu and base else 'n/a')
        print('%-12s' % design.split('-')[0] + ''.join('%16s' % c for c in cells))
    fastest = variants[-1]
    plain, vector = (medians.get('family:%s:bc3-design/%d' % (v, blocks)) for v in ('plain', fastest))
    if plain and vector:
        print('BC3: %s is %.1fx as fast as plain C++' % (fastest, plain / vector))
    print('BC6H as a multiple of BC7, same variant, and the plain decoder\'s time over it: on mixed runs')
    print('(BC7\'s assumed photo-like mix, BC6H\'s mix of five encoded HDR images, signed without negative')
    print('endpoints as in real signed textures), then on random blocks:')
    for run, key in (('mixed', 'mixed:%s:%s/%d'), ('random', 'family:%s:%s-design/%d')):
        for name in ('bc6h', 'bc6hs'):
            cells = []
            for v in variants:
                own, bc7, plain = (medians.get(key % (w, n, blocks)) for w, n in ((v, name), (v, 'bc7'), ('plain', name)))
                cells.append('%.2fx %5.1fx' % (own / bc7, plain / own) if own and bc7 and plain else 'n/a')
            print('%-12s' % (name + ' ' + run) + ''.join('%16s' % c for c in cells))


FAMILY_ORDER = ['bc1', 'bc1a', 'bc2', 'bc3', 'bc4', 'bc4s', 'bc5', 'bc5s', 'bc7', 'bc6h', 'bc6hs']
FAMILY_BLOCKS = 4096


def main():
    parser = argparse.ArgumentParser(description='Runs the benchmarks and prints medians and ratios.')
    parser.add_argument('decoder_bench')
    parser.add_argument('instruction_count')
    parser.add_argument('--module', nargs=2, action='append', default=[], metavar=('PYTHON', 'MODULE_DIR'),
                        help='also time decoding through the module built in MODULE_DIR for PYTHON')
    parser.add_argument('--tool', help='also time this dds2png command against the image library')
    parser.add_argument('--bc7-bench', metavar='BC7_BENCH', help='also run this bc7-bench and print its table')
    parser.add_argument('--emulated-counter', metavar='COUNTER',
                        help='also count instructions per block with this cross-built instruction-count under qemu')
    args = parser.parse_args()
    variants, medians = run_decoder_bench(args.decoder_bench)
    counter, modules = args.instruction_count, args.module

    sizes = sorted(set(int(name.split('/')[1]) for name in medians if name.startswith('memset/')))
    print('Decoder time as a multiple of memset of the same four planes (medians of 9, interleaved):')
    print('%-8s' % 'blocks' + ''.join('%14s' % v for v in ['memset ns'] + variants) + '%12s' % 'instr/block')
    for size in sizes:
        floor = medians['memset/%d' % size]
        print('%-8d' % size + '%14.1f' % floor
              + ''.join('%13.2fx' % (medians['%s/%d' % (v, size)] / floor) for v in variants))
    counts = [count_instructions(counter, v) for v in variants]
    print('%-8s' % 'instr' + '%14s' % '' + ''.join('%14s' % ('%.1f' % c if c is not None else 'n/a') for c in counts)
          + '   (callgrind, %d random blocks)' % COUNT_BLOCKS)

    print('')
    print('RGBA decoder time as a multiple of the RGB decoder\'s, same variant (medians of 9, interleaved):')
    print('%-8s' % 'blocks' + '%14s' % 'memset ratio' + ''.join('%14s' % v for v in variants))
    for size in sizes:
        floor = medians['memset-rgba/%d' % size] / medians['memset/%d' % size]
        print('%-8d' % size + '%13.2fx' % floor
              + ''.join('%13.2fx' % (medians['%s-rgba/%d' % (v, size)] / medians['%s/%d' % (v, size)])
                        for v in variants))
    print('ns per block, RGB/RGBA:')
    for size in sizes:
        print('%-8d' % size + '%14s' % ''
              + ''.join('%14s' % ('%.2f/%.2f' % (medians['%s/%d' % (v, size)] / size,
                                                 medians['%s-rgba/%d' % (v, size)] / size)) for v in variants))
    counts = [count_instructions(counter, v, rgba=True) for v in variants]
    print('%-8s' % 'instr' + '%14s' % '' + ''.join('%14s' % ('%.1f' % c if c is not None else 'n/a') for c in counts)
          + '   (callgrind, RGBA, %d random blocks)' % COUNT_BLOCKS)
    print_family(variants, medians)
    if args.bc7_bench:
        print_bc7(args.bc7_bench)
    if args.emulated_counter:
        print('')
        print_emulated_counts(args.emulated_counter)

    core = medians.get('rows256x256')
    if core and modules:
        print('')
        print('1024 x 1024 texture, 256 calls of 256 blocks (medians):')
        print('  C++ core (decodeDXT1Blocks): %9.0f ns, %6.2f ns/block' % (core, core / 65536))
        results = [(run_module_bench(python, module_dir), run_module_bench(python, module_dir, KEEP_FREED_MEMORY))
                   for python, module_dir in modules]
        for result, _ in results:
            print('  Python %-7s decodeDXT1:  %9.0f ns, %6.2f ns/block, %6.0f ns/call, %.2fx the core'
                  % (result['python'], result['pass_ns'], result['ns_per_block'], result['ns_per_call'],
                     result['pass_ns'] / core))
        print('')
        print('4096 x 4096 surface from Python, ns per block (medians of 9):')
        print('  %-14s %12s %12s %24s' % ('', 'block rows', 'whole', 'whole, memory kept'))
        for default, kept in results:
            print('  Python %-7s %12.2f %12.2f %24.2f' % (default['python'], default['surface_rows_ns_per_block'],
                                                          default['surface_whole_ns_per_block'],
                                                          kept['surface_whole_ns_per_block']))
        print('  (memory kept: %s)' % ' '.join('%s=%s' % item for item in sorted(KEEP_FREED_MEMORY.items())))
        print('')
        print('_bcn.decodeBC3 on two 4096 x 4096 surfaces, ns per block (medians of 9; %d cores):'
              % os.sysconf('SC_NPROCESSORS_ONLN'))
        for default, _ in results:
            one, two = default['bc3_one_thread_ns_per_block'], default['bc3_two_threads_ns_per_block']
            print('  Python %-7s one thread %6.2f, two threads %6.2f: %.2fx as fast' % (default['python'], one, two,
                                                                                        one / two))
        print('')
        print('_pixels.decodePixels of 4096 x 4096 surfaces to RGBA bytes, ms (medians of 9), and the ratio to')
        print('_bcn.decodeBC1 of a 4096 x 4096 surface in the same run:')
        for default, _ in results:
            times = default['pixels_ms']
            print('  Python %-7s BC1 %7.1f' % (default['python'], times['bc1']) +
                  ''.join(', %s %7.1f (%.2fx)' % (name, times[name], times[name] / times['bc1'])
                          for name in sorted(times) if name != 'bc1'))
    if modules:
        print('')
        print("dds2png.read of 4096 x 4096 surfaces, mode 'RGBA', medians of 5 (times BC1's):")
        for python, module_dir in modules:
            print_layout_reads(python, module_dir)
    if args.tool:
        compare_tool(args.tool)
    return 0


if __name__ == '__main__':
    sys.exit(main())
