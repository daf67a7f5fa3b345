"""Type information for _bcn, the decoder of the block family: BC1 to BC7."""
from typing import Tuple

# Any object with the buffer protocol, as type checkers name it (bytes,
# bytearray, memoryview, mmap, array.array...); the module takes them all.
from _typeshed import ReadableBuffer as _Blocks

_Rule = str  # "design" or "gpu"
_Planes = Tuple[bytes, bytes, bytes, bytes]

decoder: str
"""The decoder variant this CPU runs, as the dispatcher chose it (or as
BCN_DECODER names it): "AVX-512", "AVX2", "SSSE3", "NEON" or "plain C++"."""

def decodeBC1(data: _Blocks, /, *, rule: _Rule = "design") -> _Planes:
    """Decodes a run of 8-byte BC1 blocks into four RGBA row planes, 16 bytes
    a block: _dxt1a.decodeDXT1A's, under either colour rule."""
    ...

def decodeBC2(data: _Blocks, /, *, rule: _Rule = "design") -> _Planes:
    """Decodes a run of 16-byte BC2 blocks (4-bit alphas, then a four-colour
    colour block) into four RGBA row planes, 16 bytes a block."""
    ...

def decodeBC3(data: _Blocks, /, *, rule: _Rule = "design") -> _Planes:
    """Decodes a run of 16-byte BC3 blocks (an alpha channel block, then a
    four-colour colour block) into four RGBA row planes, 16 bytes a block."""
    ...

def decodeBC4(data: _Blocks, /, signed: bool = False, *, rule: _Rule = "design") -> _Planes:
    """Decodes a run of 8-byte BC4 blocks into four row planes of one byte a
    pixel, 4 bytes a block; signed values -127 to 127 become 0 to 255."""
    ...

def decodeBC5(data: _Blocks, /, signed: bool = False, *, rule: _Rule = "design") -> _Planes:
    """Decodes a run of 16-byte BC5 blocks (red, then green) into four row
    planes of two bytes (red, green) a pixel, 8 bytes a block."""
    ...

def decodeBC7(data: _Blocks, /, *, rule: _Rule = "design") -> _Planes:
    """Decodes a run of 16-byte BC7 blocks into four RGBA row planes, 16
    bytes a block; BC7 has one exact result, which either rule gives."""
    ...

def decodeBC6H(data: _Blocks, /, signed: bool = False, *, rule: _Rule = "design") -> _Planes:
    """Decodes a run of 16-byte BC6H blocks into four row planes of three
    little-endian half floats (R, G, B) a pixel, 24 bytes a block; BC6H has
    one exact result, which either rule gives."""
    ...
