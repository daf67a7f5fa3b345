"""Decodes a 1024 x 1024 texture through the _dxt1 module a block row per call
(256 calls of 256 blocks) and prints the median time as one JSON object."""
import json
import random
import sys
import time

import _dxt1

BLOCKS_PER_ROW = 256
ROWS = 256
PASSES = 200

clock = getattr(time, 'perf_counter', time.time)


def main():
    rng = random.Random(1)
    rows = [bytes(bytearray(rng.randrange(256) for _ in range(8 * BLOCKS_PER_ROW))) for _ in range(ROWS)]
    decode = _dxt1.decodeDXT1
    times = []
    for _ in range(PASSES):
        start = clock()
        for row in rows:
            decode(row)
        times.append(clock() - start)
    times.sort()
    median = times[len(times) // 2]
    json.dump({
        'python': sys.version.split()[0],
        'pass_ns': median * 1e9,
        'ns_per_call': median * 1e9 / ROWS,
        'ns_per_block': median * 1e9 / (ROWS * BLOCKS_PER_ROW),
    }, sys.stdout)
    sys.stdout.write('\n')


if __name__ == '__main__':
    main()
