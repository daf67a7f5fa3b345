"""The modules' contract as Python sees it: names, results, errors, ownership,
memory and threads. `_dxt1` (RGB), `_dxt1a` (RGBA) and `_bcn`'s BC1 decoder
(RGBA) follow the same rules; each case that holds for all runs once per
module, with that module's expected planes. `_bcn`'s other formats, options
and threads have cases of their own, as do `_pixels`'s layouts and sample
types."""
import array
import mmap
import os
import platform
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import _bcn
import _dxt1
import _dxt1a
import _pixels

QUICK = os.environ.get('DXT1_QUICK') == '1'  # fewer repetitions, e.g. under valgrind
STUBS = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), 'module', 'stubs')

RED_TO_BLUE = b'\x00\xf8\x1f\x00\xe4\xe4\xe4\xe4'
WHITE_TO_BLACK = b'\xff\xff\x00\x00\xe4\xe4\xe4\xe4'
BLACK_TO_WHITE = b'\x00\x00\xff\xff\xe4\xe4\xe4\xe4'  # the three-colour mode: index 3 is black, or transparent


def row(*values):
    return bytes(bytearray(values))


class Rgb(object):
    """The cases' subject and expected planes for _dxt1."""
    module = _dxt1
    decode = staticmethod(_dxt1.decodeDXT1)
    BLOCK_ROW_BYTES = 12
    RED_TO_BLUE_ROW = row(248, 0, 0, 0, 0, 248, 165, 0, 82, 82, 0, 165)
    WHITE_TO_BLACK_ROW = row(248, 252, 248, 0, 0, 0, 165, 168, 165, 82, 84, 82)
    BLACK_TO_WHITE_ROW = row(0, 0, 0, 248, 252, 248, 124, 126, 124, 0, 0, 0)
    WHITE_ROW = row(248, 252, 248) * 4
    RED_ROW, BLUE_ROW, INDEX_3_ROW = row(248, 0, 0) * 4, row(0, 0, 248) * 4, row(82, 0, 165) * 4


class Rgba(object):
    """The cases' subject and expected planes for _dxt1a."""
    module = _dxt1a
    decode = staticmethod(_dxt1a.decodeDXT1A)
    BLOCK_ROW_BYTES = 16
    RED_TO_BLUE_ROW = row(248, 0, 0, 255, 0, 0, 248, 255, 165, 0, 82, 255, 82, 0, 165, 255)
    WHITE_TO_BLACK_ROW = row(248, 252, 248, 255, 0, 0, 0, 255, 165, 168, 165, 255, 82, 84, 82, 255)
    BLACK_TO_WHITE_ROW = row(0, 0, 0, 255, 248, 252, 248, 255, 124, 126, 124, 255, 0, 0, 0, 0)
    WHITE_ROW = row(248, 252, 248, 255) * 4
    RED_ROW, BLUE_ROW, INDEX_3_ROW = row(248, 0, 0, 255) * 4, row(0, 0, 248, 255) * 4, row(82, 0, 165, 255) * 4


class Bc1(Rgba):
    """The cases' subject for _bcn, whose BC1 planes are _dxt1a's."""
    module = _bcn
    decode = staticmethod(_bcn.decodeBC1)


def for_each_module(cases):
    """Runs the mixin `cases` as one TestCase per module: <name>_dxt1, <name>_dxt1a and <name>_bcn."""
    for subject in (Rgb, Rgba, Bc1):
        name = '%s%s' % (cases.__name__, subject.module.__name__)
        globals()[name] = type(name, (cases, subject, unittest.TestCase), {})
    return cases


def random_blocks(rng, count):
    return bytes(bytearray(rng.randrange(256) for _ in range(8 * count)))


def rss_bytes():
    with open('/proc/self/statm') as f:
        return int(f.read().split()[1]) * os.sysconf('SC_PAGE_SIZE')


class ModuleInterface(unittest.TestCase):
    def test_exactly_one_function_with_its_doc_string(self):
        public = [name for name in dir(_dxt1) if not name.startswith('__')]
        self.assertEqual(public, ['decodeDXT1'])
        self.assertEqual(_dxt1.decodeDXT1.__doc__, 'decodeDXT1() doc string')
        self.assertIsNone(_dxt1.__doc__)
        self.assertEqual(_dxt1.__name__, '_dxt1')

    def test_dxt1a_has_one_function_and_the_decoders_label(self):
        public = [name for name in dir(_dxt1a) if not name.startswith('__')]
        self.assertEqual(public, ['decodeDXT1A', 'decoder'])
        self.assertEqual(_dxt1a.decodeDXT1A.__doc__,
                         'decodeDXT1A(blocks) -> four row planes of RGBA pixels, 16 bytes per 8-byte DXT1 block.')
        self.assertIsNone(_dxt1a.__doc__)
        self.assertEqual(_dxt1a.__name__, '_dxt1a')
        self.assertIs(type(_dxt1a.decoder), str)
        self.assertIn(_dxt1a.decoder, ['plain C++', 'SSSE3', 'AVX2', 'AVX-512', 'NEON'])

    def test_bcn_has_a_function_a_format_and_the_same_label(self):
        public = [name for name in dir(_bcn) if not name.startswith('__')]
        self.assertEqual(public, ['decodeBC1', 'decodeBC2', 'decodeBC3', 'decodeBC4', 'decodeBC5', 'decodeBC6H',
                                  'decodeBC7', 'decoder'])
        self.assertEqual(_bcn.decodeBC4.__doc__,
                         "decodeBC4(blocks, signed=False, rule='design') -> four row planes of one-byte pixels, "
                         "4 bytes per 8-byte BC4 block.")
        self.assertEqual(_bcn.__name__, '_bcn')
        self.assertEqual(_bcn.decoder, _dxt1a.decoder)

    def test_bcn_doc_strings_say_each_functions_options_pixels_and_sizes(self):
        # Written from the format table: each row's options, channels and sizes.
        expected = {
            'decodeBC1': "decodeBC1(blocks, rule='design') -> four row planes of RGBA pixels, "
                         "16 bytes per 8-byte BC1 block.",
            'decodeBC2': "decodeBC2(blocks, rule='design') -> four row planes of RGBA pixels, "
                         "16 bytes per 16-byte BC2 block.",
            'decodeBC3': "decodeBC3(blocks, rule='design') -> four row planes of RGBA pixels, "
                         "16 bytes per 16-byte BC3 block.",
            'decodeBC4': "decodeBC4(blocks, signed=False, rule='design') -> four row planes of one-byte pixels, "
                         "4 bytes per 8-byte BC4 block.",
            'decodeBC5': "decodeBC5(blocks, signed=False, rule='design') -> four row planes of red-green pixels, "
                         "8 bytes per 16-byte BC5 block.",
            'decodeBC7': "decodeBC7(blocks, rule='design') -> four row planes of RGBA pixels, "
                         "16 bytes per 16-byte BC7 block.",
            'decodeBC6H': "decodeBC6H(blocks, signed=False, rule='design') -> four row planes of half-float RGB "
                          "pixels, 24 bytes per 16-byte BC6H block.",
        }
        for name, doc in expected.items():
            self.assertEqual(getattr(_bcn, name).__doc__, doc)
            self.assertEqual(getattr(_bcn, name).__name__, name)

    def test_type_information_names_what_each_module_has(self):
        # The stubs are written by hand; a function the table adds must be added there too.
        for module in (_dxt1, _dxt1a, _bcn):
            with open(os.path.join(STUBS, module.__name__, '__init__.pyi')) as f:
                stub = f.read()
            declared = re.findall(r'^def (\w+)\(', stub, re.M) + re.findall(r'^(\w+): ', stub, re.M)
            public = [name for name in dir(module) if not name.startswith('_')]
            self.assertEqual(sorted(declared), public, module.__name__)

    def test_type_information_takes_every_bytes_like_argument(self):
        # What type checkers read for the modules (module/stubs): every
        # object with the buffer protocol passes; text does not, nor the
        # blocks passed by keyword, which the modules refuse.
        stubs = STUBS
        folder = tempfile.mkdtemp()
        try:
            calls = ['{0}(b"")', '{0}(bytearray(8))', '{0}(memoryview(b"")[1:])', '{0}(mmap.mmap(-1, 8))',
                     '{0}(array.array("B"))', '{0}("text")', '{0}(data=b"")']
            lines = ['import array, mmap, _bcn, _dxt1, _dxt1a']
            functions = ('_dxt1.decodeDXT1', '_dxt1a.decodeDXT1A', '_bcn.decodeBC3', '_bcn.decodeBC4')
            for function in functions:
                lines += [call.format(function) for call in calls]
            with open(os.path.join(folder, 'calls.py'), 'w') as f:
                f.write('\n'.join(lines) + '\n')
            try:
                # mypy is a program of the machine's own Python: none of this interpreter's settings.
                env = dict((name, value) for name, value in os.environ.items() if not name.startswith('PYTHON'))
                env['MYPYPATH'] = stubs
                process = subprocess.Popen(['mypy', '--cache-dir', os.path.join(folder, 'cache'), 'calls.py'],
                                           cwd=folder, env=env,
                                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            except OSError:
                self.skipTest('mypy is not installed')
            output = process.communicate()[0].decode('utf-8')
        finally:
            shutil.rmtree(folder)
        refused = [int(line.split(':')[1]) for line in output.splitlines() if ': error: ' in line]
        last_two = [1 + len(calls) * (n + 1) + k for n in range(len(functions)) for k in (-1, 0)]
        self.assertEqual(refused, last_two, output)

    def test_only_the_entry_points_are_exported(self):
        entry_points = {_dxt1: 'init_dxt1' if sys.version_info[0] < 3 else 'PyInit__dxt1',
                        _dxt1a: 'init_dxt1a' if sys.version_info[0] < 3 else 'PyInit__dxt1a',
                        _bcn: 'init_bcn' if sys.version_info[0] < 3 else 'PyInit__bcn',
                        _pixels: 'init_pixels' if sys.version_info[0] < 3 else 'PyInit__pixels'}
        for module, entry_point in entry_points.items():
            try:
                output = subprocess.check_output(['nm', '-D', '--defined-only', module.__file__])
            except OSError:
                self.skipTest('nm (binutils) is not installed')
            exported = [line.split()[-1] for line in output.decode('ascii').splitlines() if line.strip()]
            self.assertEqual(exported, [entry_point], module.__name__)


@for_each_module
class Results(object):
    def test_worked_examples(self):
        examples = [
            (b'\xff\xff\x00\x00\x00\x00\x00\x00', [self.WHITE_ROW] * 4),
            (RED_TO_BLUE, [self.RED_TO_BLUE_ROW] * 4),
            (WHITE_TO_BLACK, [self.WHITE_TO_BLACK_ROW] * 4),
            (BLACK_TO_WHITE, [self.BLACK_TO_WHITE_ROW] * 4),
        ]
        for block, planes in examples:
            self.assertEqual(self.decode(block), tuple(planes))

    def test_planes_come_back_in_row_order(self):
        result = self.decode(b'\x00\xf8\x1f\x00\x00\xff\x55\xff')
        self.assertEqual(result, (self.RED_ROW, self.INDEX_3_ROW, self.BLUE_ROW, self.INDEX_3_ROW))

    def test_result_types(self):
        result = self.decode(RED_TO_BLUE)
        self.assertIs(type(result), tuple)
        for plane in result:
            self.assertIs(type(plane), bytes)

    def test_lengths_and_trailing_bytes(self):
        for length in range(8):
            self.assertEqual(self.decode(b'\xab' * length), (b'', b'', b'', b''))
        self.assertEqual(self.decode(RED_TO_BLUE), (self.RED_TO_BLUE_ROW,) * 4)
        result = self.decode(RED_TO_BLUE + WHITE_TO_BLACK + b'\x12\x34\x56\x78')
        self.assertEqual(result, (self.RED_TO_BLUE_ROW + self.WHITE_TO_BLACK_ROW,) * 4)

    def test_every_bytes_like_argument_decodes_like_bytes(self):
        data = RED_TO_BLUE + WHITE_TO_BLACK + b'\x12\x34'
        expected = self.decode(data)
        mapped = mmap.mmap(-1, len(data))
        mapped.write(data)
        if sys.version_info[0] >= 3:
            arguments = [bytearray(data), memoryview(data), array.array('B', data), mapped,
                         memoryview(b'\0' * 8 + data)[8:]]
        else:
            arguments = [buffer(data), array.array('c', data), mapped, buffer(b'\0' * 8 + data, 8)]  # noqa: F821
        for argument in arguments:
            self.assertEqual(self.decode(argument), expected, type(argument).__name__)
        del arguments
        mapped.close()  # fails while the module still holds its buffer

    def test_bytes_with_nul_and_high_values(self):
        data = random_blocks(random.Random(7), 1000)
        result = self.decode(data)
        size = self.BLOCK_ROW_BYTES
        self.assertEqual([len(plane) for plane in result], [1000 * size] * 4)
        self.assertEqual(self.decode(data[8 * 500:8 * 501]),
                         tuple(plane[size * 500:size * 501] for plane in result))


@for_each_module
class ArgumentErrors(object):
    def test_wrong_arguments_raise_type_error(self):
        self.assertRaises(TypeError, self.decode)
        self.assertRaises(TypeError, self.decode, RED_TO_BLUE, RED_TO_BLUE)
        for bad in (8, None, [0] * 8, 8.0):
            self.assertRaises(TypeError, self.decode, bad)

    @unittest.skipIf(sys.version_info[0] < 3, 'Python 2 strings are the block data')
    def test_text_and_scattered_buffers_are_refused(self):
        self.assertRaises(TypeError, self.decode, '\x00\xf8\x1f\x00\xe4\xe4\xe4\xe4')
        # Python's own convention for a buffer of the wrong shape.
        self.assertRaises(BufferError, self.decode, memoryview(RED_TO_BLUE * 2)[::2])

    @unittest.skipIf(sys.version_info[0] >= 3, 'Python 3 refuses text')
    def test_python2_text_is_encoded_as_ascii(self):
        self.assertEqual(self.decode(u'\x7f\x01' * 4), self.decode(b'\x7f\x01' * 4))
        self.assertRaises(UnicodeEncodeError, self.decode, u'\xe9' * 8)

    def test_keywords_are_refused(self):
        self.assertRaises(TypeError, lambda: self.decode(data=RED_TO_BLUE))


@for_each_module
class Ownership(object):
    def test_result_and_items_are_owned_once(self):
        result = self.decode(RED_TO_BLUE * 3)
        self.assertEqual(sys.getrefcount(result), 2)  # the name and the argument
        for i in range(4):
            self.assertEqual(sys.getrefcount(result[i]), 2)  # the tuple and the argument

    def test_argument_is_left_as_it_was(self):
        data = RED_TO_BLUE * 5
        before = sys.getrefcount(data)
        self.decode(data)
        self.assertEqual(sys.getrefcount(data), before)
        self.assertEqual(data, RED_TO_BLUE * 5)

    def test_repeated_calls_do_not_grow_the_process(self):
        # Planes of 120 KB: a leak of even one plane a call would add hundreds of MB.
        data = random_blocks(random.Random(1), 10000)
        calls = 200 if QUICK else 2000
        for _ in range(50):
            self.decode(data)
        start = rss_bytes()
        i = 0
        while i < calls:
            self.decode(data)
            try:
                self.decode(None)
            except TypeError:
                pass
            i += 1
        self.assertLess(rss_bytes() - start, 8 << 20)


def run_python(code, **environment):
    """Runs `code` in a new interpreter with the modules, with these
    environment variables (None removes one); its exit status and output.
    Skipped under valgrind, which does not follow the new process (the suite's
    own run has these cases) and runs this one by a path that the new one
    cannot always start from (the 32-bit interpreter's loader)."""
    if 'vgpreload' in os.environ.get('LD_PRELOAD', ''):
        raise unittest.SkipTest('a new interpreter is not run under valgrind')
    env = dict(os.environ)
    for name, value in environment.items():
        env.pop(name, None)
        if value is not None:
            env[name] = value
    process = subprocess.Popen([sys.executable, '-c', code], env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT)
    output = process.communicate()[0].decode('utf-8', 'replace')
    return process.returncode, output


@for_each_module
class ResultMemory(object):
    """A call's result is the memory it takes: the planes are made once,
    where they are returned, never decoded elsewhere and copied."""

    def test_a_large_call_grows_the_process_by_its_result_alone(self):
        if 'asan' in os.environ.get('LD_PRELOAD', ''):
            self.skipTest('AddressSanitizer adds shadow memory to every allocation')
        blocks = 1 << 20  # 8 MiB of blocks, planes of 48 or 64 MiB
        # The peak resident size of the new process (VmHWM), which starts
        # afresh at exec; getrusage's ru_maxrss does not, but keeps the
        # parent's peak (valgrind's, in the memcheck run).
        code = '''
import sys
def peak():
    with open('/proc/self/status') as f:
        for line in f:
            if line.startswith('VmHWM:'):
                return int(line.split()[1]) * 1024
import %s as module
decode = module.%s
decode(b'\\0' * 64)  # code an emulator translates at the first call is not the call's memory
data = b'\\0' * %d
before = peak()
if before is None:
    sys.stdout.write('no peak resident size in /proc/self/status')
    sys.exit(0)
planes = decode(data)
sys.stdout.write('%%d' %% (peak() - before))
''' % (self.module.__name__, self.decode.__name__, 8 * blocks)
        status, output = run_python(code)
        self.assertEqual(status, 0, output)
        if output.startswith('no peak'):
            self.skipTest(output)
        result = 4 * self.BLOCK_ROW_BYTES * blocks
        growth = int(output)
        self.assertLessEqual(growth, 1.1 * result)
        self.assertGreaterEqual(growth, result // 2)  # the measure sees the result at all


class DecoderChoice(unittest.TestCase):
    """BCN_DECODER names the variant every module decodes with, or makes
    each module's import fail; it never falls back to another silently."""

    def test_a_name_this_machine_cannot_run_fails_each_import(self):
        missing = 'neon' if platform.machine() in ('x86_64', 'i386', 'i686', 'AMD64') else 'avx2'
        for value in ('bogus', 'PLAIN', missing):
            for module in ('_dxt1', '_dxt1a', '_bcn'):
                code = ('try:\n    import %s\nexcept ImportError as e:\n    print(e)\nelse:\n    print("imported")'
                        % module)
                status, output = run_python(code, BCN_DECODER=value)
                self.assertEqual(status, 0, output)
                self.assertIn('BCN_DECODER=%s names no decoder variant' % value, output, module)
                self.assertIn('choose plain, ', output, module)  # the choices, slowest first
                self.assertNotIn(missing + ',', output)

    def test_this_run_decodes_with_the_variant_named(self):
        # The suite's second run sets BCN_DECODER=plain: every case above then ran the plain kernels.
        labels = {'plain': 'plain C++', 'ssse3': 'SSSE3', 'avx2': 'AVX2', 'avx512': 'AVX-512', 'neon': 'NEON'}
        named = os.environ.get('BCN_DECODER')
        if not named:
            self.skipTest('BCN_DECODER is not set')
        for module in (_dxt1a, _bcn):
            self.assertEqual(module.decoder, labels[named])

    def test_plain_is_chosen_by_name_and_nothing_names_the_fastest(self):
        code = 'import _dxt1, _dxt1a, _bcn; print(_dxt1a.decoder + "|" + _bcn.decoder)'
        self.assertEqual(run_python(code, BCN_DECODER='plain'), (0, 'plain C++|plain C++\n'))
        # Which variant is the fastest is the dispatch tests' to check (and
        # valgrind, running this process, hides AVX-512 from it).
        fastest = run_python(code, BCN_DECODER=None)
        self.assertEqual(fastest[0], 0, fastest[1])
        self.assertEqual(run_python(code, BCN_DECODER=''), fastest)


@for_each_module
@unittest.skipUnless(struct.calcsize('P') == 4, 'the 32-bit sizes; the 64-bit boundary is tested in C++')
@unittest.skipIf(QUICK, 'inputs of a gigabyte and more')
class SizesOn32Bits(object):
    """Inputs whose planes cannot exist in a 32-bit process must raise
    MemoryError, and the module must go on decoding afterwards."""

    def check_memory_error(self, size):
        try:
            data = b'\0' * size
        except MemoryError:
            self.skipTest('this interpreter cannot hold an input of %d bytes' % size)
        self.assertRaises(MemoryError, self.decode, data)
        del data
        self.assertEqual(self.decode(RED_TO_BLUE * 2), (self.RED_TO_BLUE_ROW * 2,) * 4)

    def test_four_planes_of_one_and_a_half_gigabytes_cannot_be_had(self):
        self.check_memory_error(1 << 30)

    def test_a_plane_size_past_the_largest_length_is_refused(self):
        self.check_memory_error(3 << 29)  # planes of 2.25 GiB, past 2**31 - 1


@for_each_module
class Threads(object):
    def test_concurrent_callers_each_get_their_own_result(self):
        rng = random.Random(3)
        inputs = [random_blocks(rng, 64 + 8 * t) for t in range(8)]
        expected = [self.decode(data) for data in inputs]
        mismatches = []
        rounds = 20 if QUICK else 300

        def worker(t):
            for _ in range(rounds):
                if self.decode(inputs[t]) != expected[t]:
                    mismatches.append(t)

        threads = [threading.Thread(target=worker, args=(t,)) for t in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(mismatches, [])


# Channel blocks whose pixel k has index k % 8.
ROTATING_INDICES = b'\x88\xc6\xfa\x88\xc6\xfa'
BLUE_TO_RED = b'\x1f\x00\x00\xf8\xe4\xe4\xe4\xe4'  # four-colour in BC2 and BC3 whatever the order


def rotating(values, pixel_bytes=1, channel=0, planes=None):
    """The planes of one block whose pixel k has values[k % 8] at byte `channel`."""
    planes = planes or [bytearray(4 * pixel_bytes) for _ in range(4)]
    for k in range(16):
        planes[k // 4][pixel_bytes * (k % 4) + channel] = values[k % 8]
    return planes


class BlockFamily(unittest.TestCase):
    """_bcn's formats, its signed and rule options, and its threads."""

    def test_worked_blocks_of_each_format(self):
        eight = [200, 10, 172, 145, 118, 91, 64, 37]  # 200 and 10: sevenths, truncated
        six = [10, 201, 48, 86, 124, 162, 0, 255]  # 10 and 201: fifths, then 0 and 255
        self.assertEqual(_bcn.decodeBC4(b'\xc8\x0a' + ROTATING_INDICES), tuple(map(bytes, rotating(eight))))
        self.assertEqual(_bcn.decodeBC5(b'\xc8\x0a' + ROTATING_INDICES + b'\x0a\xc9' + ROTATING_INDICES),
                         tuple(map(bytes, rotating(six, 2, 1, rotating(eight, 2, 0)))))
        blue_to_red = bytearray([0, 0, 248, 0, 248, 0, 0, 0, 82, 0, 165, 0, 165, 0, 82, 0])
        bc3 = rotating(eight, 4, 3, [bytearray(blue_to_red) for _ in range(4)])
        self.assertEqual(_bcn.decodeBC3(b'\xc8\x0a' + ROTATING_INDICES + BLUE_TO_RED), tuple(map(bytes, bc3)))
        # BC2: pixel k's alpha is k, widened to 17k.
        bc2 = [bytearray(blue_to_red) for _ in range(4)]
        for k in range(16):
            bc2[k // 4][4 * (k % 4) + 3] = 17 * k
        self.assertEqual(_bcn.decodeBC2(b'\x10\x32\x54\x76\x98\xba\xdc\xfe' + BLUE_TO_RED), tuple(map(bytes, bc2)))

    def test_bc7_no_mode_block_is_transparent_black_under_either_rule(self):
        # A first byte of 0 names no mode: every pixel (0, 0, 0, 0).
        for rule in ('design', 'gpu'):
            self.assertEqual(_bcn.decodeBC7(b'\0' * 16 + b'\xff' * 15, rule=rule), (b'\0' * 16,) * 4)

    def test_signed_and_rule_choose_the_decoder(self):
        block = b'\x64\x9c' + ROTATING_INDICES  # 100 and -100 signed; 100 and 156 unsigned
        signed_design = [228, 27, 199, 170, 142, 113, 85, 56]
        signed_gpu = [228, 27, 199, 171, 142, 113, 84, 56]
        self.assertEqual(_bcn.decodeBC4(block, True), tuple(map(bytes, rotating(signed_design))))
        self.assertEqual(_bcn.decodeBC4(block, signed=1, rule='design'), tuple(map(bytes, rotating(signed_design))))
        self.assertEqual(_bcn.decodeBC4(block, signed=True, rule='gpu'), tuple(map(bytes, rotating(signed_gpu))))
        self.assertEqual(_bcn.decodeBC4(block, signed=0), _bcn.decodeBC4(block))
        self.assertEqual(_bcn.decodeBC1(b'\xff\xff' + b'\0' * 6, rule='gpu'), (b'\xff' * 16,) * 4)
        self.assertEqual(_bcn.decodeBC1(b'\xff\xff' + b'\0' * 6, rule=u'design'), (b'\xf8\xfc\xf8\xff' * 4,) * 4)

    def test_options_are_checked(self):
        for bad_rule in ('GPU', 'gpu ', '', None, 1, b'gpu' if sys.version_info[0] >= 3 else u'gp\xfc'):
            self.assertRaises(ValueError, _bcn.decodeBC3, BLUE_TO_RED * 2, rule=bad_rule)
        self.assertRaises(TypeError, _bcn.decodeBC3, BLUE_TO_RED * 2, 'gpu')  # rule is a keyword
        self.assertRaises(TypeError, _bcn.decodeBC2, BLUE_TO_RED * 2, signed=True)  # no signed BC2
        self.assertRaises(TypeError, _bcn.decodeBC4, BLUE_TO_RED, True, signed=True)
        self.assertRaises(TypeError, _bcn.decodeBC5, BLUE_TO_RED * 2, colour='gpu')

        class Undecided(object):
            def __bool__(self):
                raise ZeroDivisionError
            __nonzero__ = __bool__

        self.assertRaises(ZeroDivisionError, _bcn.decodeBC5, BLUE_TO_RED * 2, Undecided())

        class LooksLikeGpu(object):
            def __eq__(self, other):
                return other == 'gpu'

        # Only text names a rule: neither an object that claims to equal it,
        # nor bytes, even where comparing bytes with text is an error (-bb).
        self.assertRaises(ValueError, _bcn.decodeBC3, BLUE_TO_RED * 2, rule=LooksLikeGpu())
        if sys.version_info[0] >= 3:
            strict = subprocess.Popen([sys.executable, '-bb', '-c', 'import _bcn; _bcn.decodeBC3(b"", rule=b"gpu")'],
                                      stderr=subprocess.PIPE)
            self.assertIn(b"ValueError: rule must be 'design' or 'gpu'", strict.communicate()[1])

    def test_argument_errors_name_the_function(self):
        # The blocks passed by a keyword, or not at all: the message names the
        # function, and the keyword, as Python's own functions do.
        for call, words in ((lambda: _bcn.decodeBC4(data=ROTATING_INDICES * 2), ('decodeBC4()', "'data'")),
                            (lambda: _bcn.decodeBC5(signed=True), ('decodeBC5()', '0 given')),
                            (lambda: _bcn.decodeBC7(), ('decodeBC7()', '0 given'))):
            with self.assertRaises(TypeError) as raised:
                call()
            for word in words:
                self.assertIn(word, str(raised.exception))

    def test_options_are_read_before_the_blocks_are_taken(self):
        # Reading an option runs the caller's code, which may close the mapping
        # the blocks come from: the decoder must then see it closed, never
        # read unmapped memory (Python 2 lends the bytes without holding them).
        data = b'\xc8\x0a' + ROTATING_INDICES
        for call in (lambda m: _bcn.decodeBC4(m, ClosingOption(m)),
                     lambda m: _bcn.decodeBC4(m, signed=ClosingOption(m)),
                     lambda m: _bcn.decodeBC7(m, rule=ClosingOption(m))):
            mapped = mmap.mmap(-1, 4096 * len(data))
            mapped.write(data * 4096)
            self.assertRaises(ValueError, call, mapped)  # a closed mmap's own error

    def test_long_runs_let_other_threads_run(self):
        data = random_blocks(random.Random(5), 4096) * 128  # 4 MiB of BC3 blocks
        during_long_run, during_short_run = counts_of_another_thread(
            lambda: _bcn.decodeBC3(data), lambda: _bcn.decodeBC3(data[:16 * 100]))  # a short run keeps the lock
        self.assertGreater(during_long_run, 0)
        self.assertEqual(during_short_run, 0)


class ClosingOption(object):
    """An option whose reading (as a truth value, a text or an index) runs the
    caller's code: it closes the mapping the data comes from."""
    def __init__(self, mapped):
        self.mapped = mapped

    def __bool__(self):
        self.mapped.close()
        return False
    __nonzero__ = __bool__

    def __eq__(self, other):
        self.mapped.close()
        return other == 'gpu'

    def __index__(self):
        self.mapped.close()
        return 4


def counts_of_another_thread(long_call, short_call):
    """How far another thread counts during `long_call` and during
    `short_call`. The interpreter is told not to switch threads of itself, so
    the other thread runs only while the caller has let go of the lock: it
    counts during a call if and only if the module lets go."""
    counted = [0]
    stop = []

    def count():
        while not stop:
            counted[0] += 1
            if counted[0] % 64 == 0:
                time.sleep(0)  # lets go of the lock, for the caller to take back

    if sys.version_info[0] >= 3:
        interval, set_interval = sys.getswitchinterval(), sys.setswitchinterval
        set_interval(1000.0)
    else:
        interval, set_interval = sys.getcheckinterval(), sys.setcheckinterval
        set_interval(1 << 30)
    thread = threading.Thread(target=count)
    try:
        thread.start()
        # A loaded machine may wake the counting thread too late for one
        # call; with the lock held it could never count at all.
        during_long_call = 0
        for _ in range(20):
            before = counted[0]
            long_call()
            during_long_call = counted[0] - before
            if during_long_call:
                break
        before = counted[0]
        short_call()
        during_short_call = counted[0] - before
    finally:
        stop.append(True)
        set_interval(interval)
        thread.join()
    return during_long_call, during_short_call

BGRA8 = (('unorm', 16, 8), ('unorm', 8, 8), ('unorm', 0, 8), ('unorm', 24, 8))
RGBA8 = (('unorm', 0, 8), ('unorm', 8, 8), ('unorm', 16, 8), ('unorm', 24, 8))
B5G6R5 = (('unorm', 11, 5), ('unorm', 5, 6), ('unorm', 0, 5), ('one',))
RGBA16F = (('float', 0, 16), ('float', 16, 16), ('float', 32, 16), ('float', 48, 16))


class PixelLayouts(unittest.TestCase):
    """_pixels.decodePixels: results of each sample type, its arguments and
    their errors, sizes, and the order in which it reads its arguments."""

    def test_worked_pixels(self):
        decode = _pixels.decodePixels
        # 0xF81F is magenta; 0x8420 is red 16 of 31, green 33 of 63.
        self.assertEqual(decode(b'\x1f\xf8\x20\x84', 2, 1, 4, 16, B5G6R5, 'uint8'), row(255, 0, 255, 255, 132, 134, 0, 255))
        self.assertEqual(decode(b'\x01\x02\x03\x04', 1, 1, 4, 32, BGRA8, 'uint8'), row(3, 2, 1, 4))
        self.assertEqual(struct.unpack('=4H', decode(b'\x01\x02\x03\x04', 1, 1, 4, 32, BGRA8, 'uint16')),
                         (3 * 257, 2 * 257, 257, 4 * 257))
        halves = struct.pack('<4H', 0x3800, 0x7c00, 0xfc00, 0x7bff)  # 0.5, infinity, -infinity, 65504
        self.assertEqual(decode(halves, 1, 1, 8, 64, RGBA16F, 'uint8'), row(128, 255, 0, 255))
        self.assertEqual(struct.unpack('=4f', decode(halves, 1, 1, 8, 64, RGBA16F, 'float32')),
                         (0.5, float('inf'), float('-inf'), 65504.0))
        self.assertEqual(decode(halves, 1, 1, 8, 64, RGBA16F, 'float16'), halves if sys.byteorder == 'little'
                         else struct.pack('>4H', 0x3800, 0x7c00, 0xfc00, 0x7bff))
        # Signed fields, and the signed zero of the blue a layout lacks.
        self.assertEqual(decode(b'\x80\x7f', 1, 1, 2, 16, (('snorm', 0, 8), ('snorm', 8, 8), ('signedzero',)),
                                'uint8'), row(0, 255, 128))
        # Shared exponent: 256, 1 and 511 times 2^(16 - 24).
        rgb9e5 = struct.pack('<I', 256 | 1 << 9 | 511 << 18 | 16 << 27)
        self.assertEqual(struct.unpack('=3f', decode(rgb9e5, 1, 1, 4, 32, tuple(('sharedexp', 9 * c, 9, 27)
                                                                                   for c in range(3)), 'float32')),
                         (1.0, 0.00390625, 1.99609375))
        # Colours stored multiplied by alpha: 64 / 128 is 127.5, rounded up.
        self.assertEqual(decode(row(64, 128, 200, 128, 9, 9, 9, 0), 2, 1, 8, 32, RGBA8, 'uint8', unpremultiply=True),
                         row(128, 255, 255, 128, 0, 0, 0, 0))

    def test_one_bit_rows_start_on_whole_bytes(self):
        # Ten pixels a row, two bytes apart; the first pixel in the highest bit.
        result = _pixels.decodePixels(row(0xa5, 0xc0, 0x01, 0x80), 10, 2, 2, 1, (('unorm', 0, 1),), 'uint8')
        self.assertEqual(result, row(255, 0, 255, 0, 0, 255, 0, 255, 255, 255, 0, 0, 0, 0, 0, 0, 0, 255, 255, 0))
        # Rows further apart than their pixels: the gap is skipped, and the last row needs no gap.
        self.assertEqual(_pixels.decodePixels(row(1, 99, 99, 2), 1, 2, 3, 8, (('unorm', 0, 8),), 'uint8'), row(1, 2))

    def test_decoded_planes_convert_to_other_types(self):
        # BC1's RGBA rows: 248 widens to 248 * 257; 255 is 1.0.
        plane = _bcn.decodeBC1(RED_TO_BLUE)[0]
        self.assertEqual(struct.unpack('=8H', _pixels.decodePixels(plane, 2, 1, 16, 32, RGBA8, 'uint16')),
                         (63736, 0, 0, 65535, 0, 0, 63736, 65535))
        self.assertEqual(struct.unpack('=4f', _pixels.decodePixels(plane, 1, 1, 16, 32, RGBA8, 'float32')),
                         (struct.unpack('<f', b'\xf9\xf8\x78\x3f')[0], 0.0, 0.0, 1.0))  # 248/255, rounded to single
        # BC6H's rows: three halves a pixel, to single precision and to words.
        halves = struct.pack('<3H', 0x3800, 0xbc00, 0x3555)  # 0.5, -1.0, (1 + 341/1024) / 4
        self.assertEqual(struct.unpack('=3f', _pixels.decodePixels(halves, 1, 1, 6, 48, RGBA16F[:3], 'float32')),
                         (0.5, -1.0, 0.333251953125))

    def test_result_sizes_and_types(self):
        data = bytes(bytearray(range(256))) * 3
        for dtype, size in (('uint8', 1), ('uint16', 2), ('float16', 2), ('float32', 4)):
            result = _pixels.decodePixels(data, 5, 4, 48, 64, RGBA16F, dtype)
            self.assertIs(type(result), bytes)
            self.assertEqual(len(result), 5 * 4 * 4 * size)
        self.assertEqual(_pixels.decodePixels(b'', 0, 7, 0, 32, BGRA8, 'uint8'), b'')
        self.assertEqual(_pixels.decodePixels(b'', 9, 0, 36, 32, BGRA8, 'uint8'), b'')

    def test_every_bytes_like_argument_decodes_like_bytes(self):
        data = bytes(bytearray(range(64)))
        expected = _pixels.decodePixels(data, 4, 4, 16, 32, BGRA8, 'uint8')
        mapped = mmap.mmap(-1, len(data))
        mapped.write(data)
        if sys.version_info[0] >= 3:
            arguments = [bytearray(data), memoryview(data), mapped, memoryview(b'\0' * 8 + data)[8:]]
        else:
            arguments = [buffer(data), mapped, array.array('c', data)]  # noqa: F821
        for argument in arguments:
            self.assertEqual(_pixels.decodePixels(argument, 4, 4, 16, 32, BGRA8, 'uint8'), expected,
                             type(argument).__name__)
        del arguments
        mapped.close()  # fails while the module still holds its buffer

    def test_argument_errors(self):
        decode = _pixels.decodePixels
        data = b'\0' * 64
        self.assertRaises(TypeError, decode)
        self.assertRaises(TypeError, decode, data, 4, 4, 16, 32, BGRA8)
        self.assertRaises(TypeError, decode, data, 4, 4, 16, 32, list(BGRA8), 'uint8')
        self.assertRaises(TypeError, decode, data, 4, 4, 16, 32, (['unorm', 0, 8],), 'uint8')
        self.assertRaises(TypeError, decode, data, 4.0, 4, 16, 32, BGRA8, 'uint8')
        self.assertRaises(TypeError, decode, data, 4, 4, 16, 32, BGRA8, 'uint8', alpha=True)
        self.assertRaises(TypeError, decode, None, 4, 4, 16, 32, BGRA8, 'uint8')
        for bad in ((data, 4, 4, 16, 32, BGRA8, 'int8'),                    # no such dtype
                    (data, 4, 4, 16, 32, BGRA8, b'uint8' if sys.version_info[0] >= 3 else u'uint\xfc'),
                    (data, 4, 4, 16, 12, BGRA8, 'uint8'),                   # no such pixel size
                    (data, 4, 4, 16, 16, BGRA8, 'uint8'),                   # fields past the pixel
                    (data, 4, 4, 16, 32, (('snorm', 0, 17),), 'uint8'),             # wider than its kind takes
                    (data, 4, 4, 16, 32, (('unorm', 0, 0),), 'uint8'),
                    (data, 4, 4, 16, 32, (('half', 0, 16),), 'uint8'),
                    (data, 4, 4, 16, 32, (('unorm', 0),), 'uint8'),
                    (data, 4, 4, 16, 32, (('one', 0, 8),), 'uint8'),
                    (data, 4, 4, 16, 32, (('unorm', -1, 8),), 'uint8'),
                    (data, 4, 4, 16, 32, (('unorm', 1 << 70, 8),), 'uint8'),
                    (data, 4, 4, 16, 32, (), 'uint8'),
                    (data, 4, 4, 16, 32, BGRA8 + (('one',),), 'uint8'),
                    (data, -1, 4, 16, 32, BGRA8, 'uint8'),
                    (data, 4, 4, 15, 32, BGRA8, 'uint8'),                   # rows shorter than their pixels
                    (data, 4, 5, 16, 32, BGRA8, 'uint8'),                   # data too short by a row
                    (data[:-1], 4, 4, 16, 32, BGRA8, 'uint8'),              # ... or by a byte
                    (data, 4, 4, 16, 32, BGRA8, 'uint16', True)):           # unpremultiply: bytes only
            self.assertRaises(ValueError, decode, *bad)

    def test_sizes_past_the_platform_are_refused_without_allocating(self):
        start = rss_bytes()
        huge = sys.maxsize // 2
        # The result cannot be represented: MemoryError before the data is looked at.
        self.assertRaises(MemoryError, _pixels.decodePixels, b'', huge, huge, huge, 8, (('unorm', 0, 8),), 'float32')
        self.assertRaises(MemoryError, _pixels.decodePixels, b'', huge, 1, huge, 128, RGBA16F, 'uint8')
        # A result that could exist, from data too short for it: ValueError.
        self.assertRaises(ValueError, _pixels.decodePixels, b'\0' * 16, 1 << 14, 1 << 14, 1 << 16, 32, BGRA8,
                          'uint8')  # 1 GiB
        self.assertLess(rss_bytes() - start, 8 << 20)

    def test_options_are_read_before_the_data_is_taken(self):
        # Reading an option runs the caller's code, which may close the mapping
        # the data comes from: the decoder must then see it closed.
        for call in (lambda m: _pixels.decodePixels(m, 4, 4, 16, 32, BGRA8, 'uint8',
                                                    unpremultiply=ClosingOption(m)),
                     lambda m: _pixels.decodePixels(m, 4, 4, 16, 32, (('unorm', ClosingOption(m), 8),), 'uint8')):
            mapped = mmap.mmap(-1, 1 << 16)
            self.assertRaises(ValueError, call, mapped)  # a closed mmap's own error

    def test_large_surfaces_let_other_threads_run(self):
        # 1024 x 256 16-bit RGBA pixels to singles (each sample computed, not
        # looked up, so that the call lasts a few milliseconds): 4 MiB.
        data = random_blocks(random.Random(6), 1 << 18)
        rgba16 = tuple(('unorm', 16 * c, 16) for c in range(4))
        during_large, during_small = counts_of_another_thread(
            lambda: _pixels.decodePixels(data, 1024, 256, 8192, 64, rgba16, 'float32'),
            lambda: _pixels.decodePixels(data, 64, 64, 8192, 64, rgba16, 'float32'))  # 64 KiB keeps the lock
        self.assertGreater(during_large, 0)
        self.assertEqual(during_small, 0)

    def test_result_is_owned_once(self):
        data = b'\x10' * 64
        before = sys.getrefcount(data)
        result = _pixels.decodePixels(data, 4, 4, 16, 32, BGRA8, 'float32')
        self.assertEqual(sys.getrefcount(result), 2)
        self.assertEqual(sys.getrefcount(data), before)


if __name__ == '__main__':
    unittest.main()
