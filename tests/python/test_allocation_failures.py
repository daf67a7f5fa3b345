"""Heap failures during a call: each must raise MemoryError, release every
row plane, and leave the module working. Needs the malloc-failure interposer
preloaded (LD_PRELOAD); the build's test runner does that."""
import ctypes
import os
import random
import unittest

import _dxt1

BLOCKS = 400                 # planes of 4800 bytes: beyond the interpreter's small-object allocator
PLANE = 12 * BLOCKS
STRING_HEADER_MAX = 64       # a string of n bytes is one heap request of n plus a small header

try:
    interposer = ctypes.CDLL(None)
    interposer.dxt1_fail_request.argtypes = [ctypes.c_size_t, ctypes.c_size_t, ctypes.c_long]
    interposer.dxt1_track_size.argtypes = [ctypes.c_size_t]
except (OSError, AttributeError):
    interposer = None


@unittest.skipIf(interposer is None and os.environ.get('DXT1_REQUIRE_INTERPOSER') != '1',
                 'the malloc-failure interposer is not preloaded')
class AllocationFailures(unittest.TestCase):
    def setUp(self):
        rng = random.Random(11)
        self.data = bytes(bytearray(rng.randrange(256) for _ in range(8 * BLOCKS)))
        self.expected = _dxt1.decodeDXT1(self.data)
        interposer.dxt1_track_size(PLANE)

    def tearDown(self):
        interposer.dxt1_disarm()
        interposer.dxt1_track_size(0)

    def call_with_failure(self, skip):
        """Decodes with the `skip`-th plane-sized request failing; returns the
        result, or None after MemoryError."""
        interposer.dxt1_fail_request(PLANE, PLANE + STRING_HEADER_MAX, skip)
        try:
            return _dxt1.decodeDXT1(self.data)
        except MemoryError:
            return None
        finally:
            self.failure_pending = interposer.dxt1_disarm()

    def test_each_plane_and_each_string_failing_once(self):
        # Requests 0 to 3 are the four planes, 4 to 7 the four strings.
        for skip in range(8):
            self.assertIsNone(self.call_with_failure(skip), 'request %d' % skip)
            self.assertEqual(self.failure_pending, 0, 'request %d was never made' % skip)
            self.assertEqual(interposer.dxt1_live_tracked(), 0, 'planes left after request %d' % skip)
            self.assertEqual(_dxt1.decodeDXT1(self.data), self.expected)

    def test_a_call_makes_exactly_eight_such_requests(self):
        self.assertEqual(self.call_with_failure(8), self.expected)
        self.assertEqual(self.failure_pending, 1)
        self.assertEqual(interposer.dxt1_live_tracked(), 0)

    def test_empty_planes_are_not_reported_as_failures(self):
        # Some heaps return NULL for zero-byte requests; the module must not take that for failure.
        interposer.dxt1_fail_request(0, 0, 0)
        self.assertEqual(_dxt1.decodeDXT1(b'1234567'), (b'', b'', b'', b''))

    def test_repeated_failures_leave_nothing_behind(self):
        for i in range(200):
            self.assertIsNone(self.call_with_failure(i % 8))
        self.assertEqual(interposer.dxt1_live_tracked(), 0)


if __name__ == '__main__':
    unittest.main()
