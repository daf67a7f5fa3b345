"""dds2png: converts DDS textures of any layout but video ones (BC1 to BC7,
DXT1 to DXT5, ATI1, ATI2, RXGB, and every uncompressed, packed, float and
palette layout) to PNG files (8 or 16 bits a sample) or OpenEXR files:
greyscale, grey with alpha, RGB or RGBA."""
import os
from typing import IO, NamedTuple, Optional, Tuple, Union

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Source = Union[Path, IO[bytes]]
Target = Union[Path, IO[bytes]]

__version__: str
__all__ = ['read', 'convert', 'info', 'Info', 'ConversionError', 'NotDDSError', 'UnsupportedFormatError',
           'NotDXT1Error', 'MalformedError', 'TruncatedError', '__version__']

class Info(NamedTuple):
    """The header's facts: the full size, the number of mip levels, the
    layers of each level (cube faces and array elements, or volume slices),
    the kind ('2D', 'cube', 'array' or 'volume'), the format ('DXT1', 'DXT5',
    the DXGI name of a DX10 header such as 'BC1_UNORM'...), whether the
    header declares the alpha opaque, whether read() and convert() decode
    the format, the bytes of surface data the input holds and its header's
    levels and layers take (None where the format's size is not known here),
    whether the colours are stored premultiplied by alpha; where level
    0's data starts; a cube map's stored faces; whether a stream was counted
    only as far as its bound; what of the header was mended to read it; why
    read() refuses the format (None where it is decoded); whether the
    format's channels hold more than 8 bits or floats (HDR; None where the
    format is not known here); and whether its values are signed."""
    width: int
    height: int
    levels: int
    layers: Tuple[int, ...]
    kind: str
    format: str
    opaque_alpha: bool
    decoded: bool
    data_bytes: Optional[int]
    expected_bytes: Optional[int]
    premultiplied: bool
    data_offset: int
    faces: Tuple[str, ...]
    data_bytes_at_least: bool
    mended: Tuple[str, ...]
    refusal: Optional[str]
    high_range: Optional[bool]
    signed: bool
    @property
    def truncated(self) -> bool:
        """The input holds less surface data than its header's levels and layers take."""
        ...

class ConversionError(Exception):
    """What went wrong with one input or output. str() is the command's error
    line without its `dds2png: ` prefix; `path` is the source or target as
    the caller gave it (a file object's name, or None), `reason` the message
    alone, `errno` the system's error number or None. Pickles intact."""
    def __init__(self, path: object, reason: str, errno: Optional[int] = ...) -> None: ...
    @property
    def path(self) -> object: ...
    @property
    def reason(self) -> str: ...
    @property
    def errno(self) -> Optional[int]: ...

class NotDDSError(ConversionError):
    """The input does not start as a DDS file does."""

class UnsupportedFormatError(ConversionError):
    """A DDS file of a format the converter does not decode; the message names it."""

NotDXT1Error = UnsupportedFormatError

class MalformedError(ConversionError):
    """A DDS header whose fields contradict each other or the format's limits."""

class TruncatedError(ConversionError):
    """The input ends before the header or the surfaces it needs."""

def read(source: Source, level: int = ..., layer: Optional[int] = ..., mode: str = ..., rule: str = ...,
         normal_map: bool = ..., premultiplied: bool = ...,
         dtype: str = ...) -> Tuple[int, int, bytearray]:
    """Decodes one level of a DDS file: returns (width, height, pixels), the
    pixels top row first, height rows of width pixels: mode 'RGB' (the
    default, DXT1's transparent index as black), 'RGBA' (it as (0, 0, 0, 0),
    alpha 255 where the format has none) or, for grey formats, 'L' (and 'LA'
    for luminance with alpha); `rule` 'design' (the default) or 'gpu'; BC5's
    blue zero (0 unsigned, 128 signed) or, with `normal_map`, the z of the
    unit normal; colours stored premultiplied by alpha divided by it unless
    `premultiplied`; samples of `dtype`, 'uint8' (the default), 'uint16',
    'float16' or 'float32', in native byte order;
    with layer None, every layer of the level stacked top to bottom.
    `source` is a path (`-` is standard input) or a binary file object, left open."""
    ...

def convert(source: Source, target: Target, level: int = ..., layer: Optional[int] = ...,
            compression: Optional[int] = ..., threads: Optional[int] = ..., opaque: bool = ..., rule: str = ...,
            normal_map: bool = ..., depth: Optional[int] = ..., format: Optional[str] = ...) -> None:
    """Converts one level of a DDS file to a PNG (`depth` 8 or 16 bits; None:
    16 for BC6H, else 8) or, with `format` 'exr' or a target named .exr, an
    OpenEXR file of half floats, as the command does: RGBA
    where a pixel's alpha is below 255 (unless `opaque`, or a DX10 header
    declares the alpha opaque), else RGB; greyscale for BC4; pixels as read()
    makes them under `rule` and `normal_map`; zlib level `compression` (0 to 9; None,
    the default: 6 for PNG, 4 for OpenEXR); a large image compressed by at most `threads` threads (None:
    the cores the process may use). A path target is written in full or not
    at all, never over the input; `-` writes through sys.stdout's binary
    buffer; a file object is left open."""
    ...

def info(source: Source) -> Info:
    """The header's facts, of a DDS file of any format, without decoding (a
    stream is read to count its surface data)."""
    ...
