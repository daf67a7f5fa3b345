"""Times decoding through the _dxt1 module and prints the medians as one JSON
object: a 1024 x 1024 texture a block row per call (256 calls of 256 blocks),
and a 4096 x 4096 surface both a block row per call (1024 calls of 1024
blocks) and whole, in one call."""
import json
import random
import sys
import time

import _dxt1

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
    json.dump({
        'python': sys.version.split()[0],
        'pass_ns': small * 1e9,
        'ns_per_call': small * 1e9 / 256,
        'ns_per_block': small * 1e9 / (256 * 256),
        'surface_rows_ns_per_block': large_by_rows * 1e9 / blocks,
        'surface_whole_ns_per_block': large_whole * 1e9 / blocks,
    }, sys.stdout)
    sys.stdout.write('\n')


if __name__ == '__main__':
    main()
