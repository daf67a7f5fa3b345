"""Type information for _dxt1, the DXT1 (BC1) block decoder."""
from typing import Tuple

# Any object with the buffer protocol, as type checkers name it (bytes,
# bytearray, memoryview, mmap, array.array...); the module takes them all.
from _typeshed import ReadableBuffer

def decodeDXT1(data: ReadableBuffer, /) -> Tuple[bytes, bytes, bytes, bytes]:
    """Decodes a run of 8-byte DXT1 blocks into four RGB row planes.

    Plane yo holds pixel row yo of every block, 12 bytes (four RGB pixels)
    per whole block in input order; trailing bytes of a partial block are
    ignored. Endpoints widen by plain shifts (white is 248, 252, 248) and the
    three-colour mode's index 3 is opaque black. Raises TypeError for an
    argument that is not bytes-like (Python 2: what "s#" takes), and
    MemoryError when the planes cannot be had."""
    ...
