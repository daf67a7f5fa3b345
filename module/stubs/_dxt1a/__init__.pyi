"""Type information for _dxt1a, the DXT1 (BC1) block decoder that keeps transparency."""
from typing import Tuple, Union

decoder: str
"""The decoder variant this CPU runs, as the dispatcher chose it: "AVX-512",
"AVX2", "SSSE3", "NEON" or "plain C++"."""

def decodeDXT1A(data: Union[bytes, bytearray, memoryview]) -> Tuple[bytes, bytes, bytes, bytes]:
    """Decodes a run of 8-byte DXT1 blocks into four RGBA row planes.

    Plane yo holds pixel row yo of every block, 16 bytes (four RGBA pixels)
    per whole block. Red, green and blue are _dxt1's; alpha is 255, but for
    index 3 in the three-colour mode (first endpoint <= second), which is
    (0, 0, 0, 0). The same argument rules and failures as _dxt1.decodeDXT1."""
    ...
