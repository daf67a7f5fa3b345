"""Type information for _pixels, the decoder of pixel layouts that are not
block-compressed, and the converter of decoded samples to another type."""
from typing import Tuple, Union

# Any object with the buffer protocol, as type checkers name it (bytes,
# bytearray, memoryview, mmap, array.array...); the module takes them all.
from _typeshed import ReadableBuffer as _Data

# One tuple a channel: (kind,) for the constants 'zero', 'one' and
# 'signedzero'; (kind, offset, bits) for 'unorm', 'snorm', 'float' and
# 'xrbias'; ('sharedexp', offset, 9, exponent_offset).
_Field = Union[Tuple[str], Tuple[str, int, int], Tuple[str, int, int, int]]
_DType = str  # "uint8", "uint16", "float16" or "float32"

def decodePixels(data: _Data, width: int, height: int, row_bytes: int, pixel_bits: int,
                 fields: Tuple[_Field, ...], dtype: _DType, /, unpremultiply: bool = False) -> bytes:
    """Decodes `height` rows, `row_bytes` apart, of `width` pixels of
    `pixel_bits` bits into rows of one `dtype` sample per field (native byte
    order), packed; unpremultiply divides the colours of 8-bit RGBA by alpha."""
    ...
