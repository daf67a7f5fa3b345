"""dds2png: converts BC1 to BC5 (DXT1 to DXT5, ATI1, ATI2), BC6H and BC7
textures in DDS files to PNG files (8 or 16 bits) or OpenEXR files,
as a library and as a command (`dds2png`, or `python -m dds2png`).

    import dds2png
    width, height, pixels = dds2png.read('texture.dds', level=0, layer=None)
    width, height, floats = dds2png.read('sky.dds', dtype='float32')
    dds2png.convert('texture.dds', 'texture.png', level=0, layer=None)
    dds2png.convert('sky.dds', 'sky.exr')
    facts = dds2png.info('texture.dds')

Sources and targets are paths (str, bytes or os.PathLike; `-` is standard
input or output) or binary file objects. Every failure is a ConversionError
(see its subclasses), which pickles, so that it reaches the caller of a
process pool or a cluster intact. The library changes nothing process-wide.
"""
from .errors import (ConversionError, MalformedError, NotDDSError, NotDXT1Error, TruncatedError,
                     UnsupportedFormatError)
from .library import Info, convert, info, read
from .version import __version__

__all__ = ['read', 'convert', 'info', 'Info', 'ConversionError', 'NotDDSError', 'UnsupportedFormatError',
           'NotDXT1Error', 'MalformedError', 'TruncatedError', '__version__']
