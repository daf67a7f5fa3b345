"""Type information for _dxt1a, the DXT1 (BC1) block decoder that keeps transparency."""
from typing import Tuple

# Any object with the buffer protocol, as type checkers name it (bytes,
# bytearray, memoryview, mmap, array.array...); the module takes them all.
from _typeshed import ReadableBuffer

decoder: str
"""The decoder variant this CPU runs, as the dispatcher chose it (or as
BCN_DECODER names it): "AVX-512", "AVX2", "SSSE3", "NEON" or "plain C++"."""

def decodeDXT1A(data: ReadableBuffer, /) -> Tuple[bytes, bytes, bytes, bytes]:
    """Decodes a run of 8-byte DXT1 blocks into four RGBA row planes.

    Plane yo holds pixel row yo of every block, 16 bytes (four RGBA pixels)
    per whole block. Red, green and blue are _dxt1's; alpha is 255, but for
    index 3 in the three-colour mode (first endpoint <= second), which is
    (0, 0, 0, 0). The same argument rules and failures as _dxt1.decodeDXT1."""
    ...
