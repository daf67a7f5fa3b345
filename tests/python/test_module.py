"""The modules' contract as Python sees it: names, results, errors, ownership,
memory and threads. `_dxt1` (RGB) and `_dxt1a` (RGBA) follow the same rules;
each case that holds for both runs once per module, with that module's
expected planes."""
import array
import mmap
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

import _dxt1
import _dxt1a

QUICK = os.environ.get('DXT1_QUICK') == '1'  # fewer repetitions, e.g. under valgrind

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


def for_each_module(cases):
    """Runs the mixin `cases` as one TestCase per module: <name>_dxt1 and <name>_dxt1a."""
    for subject in (Rgb, Rgba):
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

    def test_type_information_takes_every_bytes_like_argument(self):
        # What type checkers read for the modules (module/stubs): every
        # object with the buffer protocol passes, and text does not.
        stubs = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                             'module', 'stubs')
        folder = tempfile.mkdtemp()
        try:
            calls = ['{0}(b"")', '{0}(bytearray(8))', '{0}(memoryview(b"")[1:])', '{0}(mmap.mmap(-1, 8))',
                     '{0}(array.array("B"))', '{0}("text")']
            lines = ['import array, mmap, _dxt1, _dxt1a']
            for function in ('_dxt1.decodeDXT1', '_dxt1a.decodeDXT1A'):
                lines += [call.format(function) for call in calls]
            with open(os.path.join(folder, 'calls.py'), 'w') as f:
                f.write('\n'.join(lines) + '\n')
            # mypy is a program of the machine's own Python: none of this interpreter's settings.
            env = dict((name, value) for name, value in os.environ.items() if name not in ('PYTHONHOME', 'PYTHONPATH'))
            try:
                process = subprocess.Popen(['mypy', '--cache-dir', os.path.join(folder, 'cache'), 'calls.py'],
                                           cwd=folder, env=dict(env, MYPYPATH=stubs),
                                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            except OSError:
                self.skipTest('mypy is not installed')
            output = process.communicate()[0].decode('utf-8')
        finally:
            shutil.rmtree(folder)
        refused = [int(line.split(':')[1]) for line in output.splitlines() if ': error: ' in line]
        self.assertEqual(refused, [1 + len(calls), 1 + 2 * len(calls)], output)

    def test_only_the_entry_points_are_exported(self):
        entry_points = {_dxt1: 'init_dxt1' if sys.version_info[0] < 3 else 'PyInit__dxt1',
                        _dxt1a: 'init_dxt1a' if sys.version_info[0] < 3 else 'PyInit__dxt1a'}
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


if __name__ == '__main__':
    unittest.main()
