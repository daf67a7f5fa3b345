"""Times decoding through the _dxt1 module and prints the medians as one JSON
object: a 1024 x 1024 texture a block row per call (256 calls of 256 blocks),
and a 4096 x 4096 surface both a block row per call (1024 calls of 1024
blocks) and whole, in one call. Then _bcn on two 4096 x 4096 BC3 surfaces,
one after the other in one thread and at once in two: _bcn lets go of the
interpreter lock while it decodes a long run. Last _pixels, decoding 4096 x 4096
B8G8R8A8, B5G6R5 and R16G16B16A16_FLOAT surfaces to RGBA bytes, against
_bcn.decodeBC1 of a 4096 x 4096 surface, timed in the same run."""
import json
import random
import sys
import threading
import time

import _bcn
import _dxt1
import _pixels

clock = getattr(time, 'perf_counter', time.time)


def random_bytes(rng, count):
    return bytes(bytearray(rng.randrange(256) for _ in range(count)))


def median_seconds(passes, work):
    times = []
    for _ in range(passes):
        start = clock()
        work()
        times.append(clock() - start)
    times.sort()
    return times[len(times) // 2]


def main():
    rng = random.Random(1)
    decode = _dxt1.decodeDXT1

    rows = [random_bytes(rng, 8 * 256) for _ in range(256)]

    def small_texture():
        for row in rows:
            decode(row)

    small = median_seconds(200, small_texture)

    # The large surface: one random block row repeated, so that building it is quick.
    row = random_bytes(rng, 8 * 1024)
    surface = row * 1024
    large_rows = [surface[8 * 1024 * m:8 * 1024 * (m + 1)] for m in range(1024)]

    def by_rows():
        for piece in large_rows:
            decode(piece)

    large_by_rows = median_seconds(9, by_rows)
    large_whole = median_seconds(9, lambda: decode(surface))
    blocks = 1024 * 1024

    # Two BC3 surfaces (16-byte blocks), decoded by one thread, then by two.
    bc3_surface = surface * 2

    def one_thread():
        _bcn.decodeBC3(bc3_surface)
        _bcn.decodeBC3(bc3_surface)

    def two_threads():
        threads = [threading.Thread(target=_bcn.decodeBC3, args=(bc3_surface,)) for _ in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    bc3_one = median_seconds(9, one_thread)
    bc3_two = median_seconds(9, two_threads)

    # Pixel layouts to RGBA bytes, from a random row repeated; against BC1 of the same surface size.
    side = 4096
    layouts = {
        'b8g8r8a8': (32, (('unorm', 16, 8), ('unorm', 8, 8), ('unorm', 0, 8), ('unorm', 24, 8))),
        'b5g6r5': (16, (('unorm', 11, 5), ('unorm', 5, 6), ('unorm', 0, 5), ('one',))),
        'r16g16b16a16_float': (64, tuple(('float', 16 * c, 16) for c in range(4))),
    }
    pixels_seconds = {'bc1': median_seconds(9, lambda: _bcn.decodeBC1(surface))}
    for name, (bits, fields) in sorted(layouts.items()):
        row_bytes = side * bits // 8
        pixels = random_bytes(rng, row_bytes) * side
        pixels_seconds[name] = median_seconds(
            9, lambda: _pixels.decodePixels(pixels, side, side, row_bytes, bits, fields, 'uint8'))
    json.dump({
        'python': sys.version.split()[0],
        'pass_ns': small * 1e9,
        'ns_per_call': small * 1e9 / 256,
        'ns_per_block': small * 1e9 / (256 * 256),
        'surface_rows_ns_per_block': large_by_rows * 1e9 / blocks,
        'surface_whole_ns_per_block': large_whole * 1e9 / blocks,
        'bc3_one_thread_ns_per_block': bc3_one * 1e9 / (2 * blocks),
        'bc3_two_threads_ns_per_block': bc3_two * 1e9 / (2 * blocks),
        'pixels_ms': dict((name, seconds * 1e3) for name, seconds in pixels_seconds.items()),
    }, sys.stdout)
    sys.stdout.write('\n')


if __name__ == '__main__':
    main()
