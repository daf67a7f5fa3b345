"""Heap failures during a call, of _dxt1, _dxt1a, _bcn and _pixels: each must
raise MemoryError, release every row plane made so far, and leave the module
working. A call's only heap requests of a plane's size are its four planes,
byte strings that it decodes into. Needs the
malloc-failure interposer preloaded (LD_PRELOAD); the build's test runner does
that."""
import ctypes
import os
import random
import sys
import unittest

import _bcn
import _dxt1
import _dxt1a
import _pixels

BLOCKS = 400                 # planes of 4800 (RGB) or 6400 (RGBA) bytes: beyond the small-object allocator
# A string of n bytes is one heap request of n plus its header, and, under the
# allocator's debug hooks (-X dev, PYTHONMALLOC=debug), a few guard words.
# Nothing else a call makes comes near this size, so a generous window serves.
STRING_OVERHEAD_MAX = 1024
# What a plane's request is recorded by: its header, and room for those guard
# words, but not the 1-byte-longer request of a bytearray argument's bytes.
STRING_HEADER = sys.getsizeof(b'')
DEBUG_GUARDS_MAX = 64

try:
    interposer = ctypes.CDLL(None)
    interposer.dxt1_fail_request.argtypes = [ctypes.c_size_t, ctypes.c_size_t, ctypes.c_long]
    interposer.dxt1_track_sizes.argtypes = [ctypes.c_size_t, ctypes.c_size_t]
except (OSError, AttributeError):
    interposer = None


REQUIRED = os.environ.get('DXT1_REQUIRE_INTERPOSER') == '1'


class AllocationFailures(object):
    """The cases, run against `decode`, whose planes hold PLANE bytes for an
    input of DATA bytes."""
    DATA = 8 * BLOCKS

    def setUp(self):
        if interposer is None:
            self.fail('the malloc-failure interposer is not preloaded (LD_PRELOAD=%r, LD_LIBRARY_PATH=%r)'
                      % (os.environ.get('LD_PRELOAD'), os.environ.get('LD_LIBRARY_PATH')))
        rng = random.Random(11)
        self.data = bytes(bytearray(rng.randrange(256) for _ in range(self.DATA)))
        self.expected = self.decode(self.data)
        interposer.dxt1_track_sizes(self.PLANE + STRING_HEADER, self.PLANE + STRING_HEADER + DEBUG_GUARDS_MAX)

    def tearDown(self):
        interposer.dxt1_disarm()
        interposer.dxt1_track_sizes(0, 0)

    def call_with_failure(self, skip):
        """Decodes with the `skip`-th plane-sized request failing; returns the
        result, or None after MemoryError."""
        interposer.dxt1_fail_request(self.PLANE, self.PLANE + STRING_OVERHEAD_MAX, skip)
        try:
            return self.decode(self.data)
        except MemoryError:
            return None
        finally:
            self.failure_pending = interposer.dxt1_disarm()

    def test_each_plane_failing_once(self):
        # Requests 0 to 3 are the four planes, in order: a failure of the
        # last releases the three made before it.
        for skip in range(4):
            self.assertIsNone(self.call_with_failure(skip), 'request %d' % skip)
            self.assertEqual(self.failure_pending, 0, 'request %d was never made' % skip)
            self.assertEqual(interposer.dxt1_live_tracked(), 0, 'planes left after request %d' % skip)
            self.assertTrue(self.decode(self.data) == self.expected, 'wrong planes after request %d' % skip)

    def test_a_call_makes_exactly_four_such_requests(self):
        # Planes decoded elsewhere and copied would be four more.
        self.assertTrue(self.call_with_failure(4) == self.expected, 'wrong planes with no failure')
        self.assertEqual(self.failure_pending, 1)
        self.assertEqual(interposer.dxt1_live_tracked(), 0)

    def test_empty_planes_are_not_reported_as_failures(self):
        # Some heaps return NULL for zero-byte requests; the module must not take that for failure.
        interposer.dxt1_fail_request(0, 0, 0)
        self.assertEqual(self.decode(b'1234567'), (b'', b'', b'', b''))

    @unittest.skipIf(sys.version_info[0] < 3, 'Python 2 parses with "s#", which lends no buffer')
    def test_a_buffer_argument_is_released_on_every_failure(self):
        data = bytearray(self.data)
        for skip in range(4):
            interposer.dxt1_fail_request(self.PLANE, self.PLANE + STRING_OVERHEAD_MAX, skip)
            try:
                self.assertRaises(MemoryError, self.decode, data)
            finally:
                interposer.dxt1_disarm()
            self.assertEqual(interposer.dxt1_live_tracked(), 0, 'planes left after request %d' % skip)
            data.append(0)  # a bytearray cannot grow while a buffer of it is held
            del data[-1]

    def test_repeated_failures_leave_nothing_behind(self):
        for i in range(200):
            self.assertIsNone(self.call_with_failure(i % 4))
        self.assertEqual(interposer.dxt1_live_tracked(), 0)


@unittest.skipIf(interposer is None and not REQUIRED, 'the malloc-failure interposer is not preloaded')
class AllocationFailures_dxt1(AllocationFailures, unittest.TestCase):
    decode = staticmethod(_dxt1.decodeDXT1)
    PLANE = 12 * BLOCKS


@unittest.skipIf(interposer is None and not REQUIRED, 'the malloc-failure interposer is not preloaded')
class AllocationFailures_dxt1a(AllocationFailures, unittest.TestCase):
    decode = staticmethod(_dxt1a.decodeDXT1A)
    PLANE = 16 * BLOCKS


@unittest.skipIf(interposer is None and not REQUIRED, 'the malloc-failure interposer is not preloaded')
class AllocationFailures_bcn_bc3(AllocationFailures, unittest.TestCase):
    decode = staticmethod(_bcn.decodeBC3)
    PLANE = 16 * BLOCKS // 2  # 16-byte blocks


@unittest.skipIf(interposer is None and not REQUIRED, 'the malloc-failure interposer is not preloaded')
class AllocationFailures_bcn_long_run(AllocationFailures, unittest.TestCase):
    """A run long enough that the interpreter lock is let go while it decodes."""
    decode = staticmethod(lambda data: _bcn.decodeBC4(data, signed=True, rule='gpu'))
    DATA = 8 * 5000
    PLANE = 4 * 5000


@unittest.skipIf(interposer is None and not REQUIRED, 'the malloc-failure interposer is not preloaded')
class AllocationFailures_pixels(unittest.TestCase):
    """_pixels makes one large request, its result, and decodes into it."""
    WIDTH, HEIGHT = 64, 32  # a float32 RGBA result of 32 KiB, from 16 KiB of half floats
    RESULT = WIDTH * HEIGHT * 16
    FIELDS = tuple(('float', 16 * c, 16) for c in range(4))

    def decode(self, data):
        return _pixels.decodePixels(data, self.WIDTH, self.HEIGHT, 8 * self.WIDTH, 64, self.FIELDS, 'float32')

    def setUp(self):
        if interposer is None:
            self.fail('the malloc-failure interposer is not preloaded')
        rng = random.Random(13)
        self.data = bytes(bytearray(rng.randrange(256) for _ in range(8 * self.WIDTH * self.HEIGHT)))
        self.expected = self.decode(self.data)
        interposer.dxt1_track_sizes(self.RESULT, self.RESULT + STRING_OVERHEAD_MAX)

    def tearDown(self):
        interposer.dxt1_disarm()
        interposer.dxt1_track_sizes(0, 0)

    def test_the_result_failing_raises_and_leaves_the_module_working(self):
        for argument in (self.data, bytearray(self.data)) if sys.version_info[0] >= 3 else (self.data,):
            interposer.dxt1_fail_request(self.RESULT, self.RESULT + STRING_OVERHEAD_MAX, 0)
            try:
                self.assertRaises(MemoryError, self.decode, argument)
            finally:
                self.assertEqual(interposer.dxt1_disarm(), 0)
            self.assertEqual(interposer.dxt1_live_tracked(), 0)
            if isinstance(argument, bytearray):
                argument.append(0)  # a bytearray cannot grow while a buffer of it is held
            self.assertTrue(self.decode(self.data) == self.expected)

    def test_a_call_makes_exactly_one_such_request(self):
        interposer.dxt1_fail_request(self.RESULT, self.RESULT + STRING_OVERHEAD_MAX, 1)
        try:
            self.assertTrue(self.decode(self.data) == self.expected)
        finally:
            self.assertEqual(interposer.dxt1_disarm(), 1)


if __name__ == '__main__':
    unittest.main()
