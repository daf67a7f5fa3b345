"""The errors the library raises, and how paths appear in their text.

ConversionError keeps every constructor argument in `args`, so that it
pickles and crosses process boundaries (pools, clusters) with its type,
text and fields. Its subclasses name the common kinds of fault; an
operating-system error has its number in `errno`."""
import sys

# How `ls -b` shows control characters, so that every message stays one line.
C_ESCAPES = {'\a': '\\a', '\b': '\\b', '\t': '\\t', '\n': '\\n', '\v': '\\v', '\f': '\\f', '\r': '\\r',
             '\\': '\\\\'}
# Python 3 decodes the bytes of a path that are not in the file system's
# encoding to the lone surrogates U+DC80 to U+DCFF (surrogateescape).
ESCAPED_BYTES = (0xDC80, 0xDCFF)
UNNAMED = '<file object>'   # a file object without a name


def escape(text):
    """The text with backslashes, control characters and undecodable bytes
    written as `ls -b` writes them (\\n, \\033, \\377...), so that it is one
    line and can be printed in any encoding that holds the rest."""
    def shown(c):
        code = ord(c)
        if c in C_ESCAPES:
            return C_ESCAPES[c]
        if code < 0x20 or code == 0x7f:
            return '\\%03o' % code
        if ESCAPED_BYTES[0] <= code <= ESCAPED_BYTES[1]:
            return '\\%03o' % (code - 0xDC00)
        if 0xD800 <= code <= 0xDFFF:
            return '\\u%04x' % code
        return c
    if all(' ' <= c < '\x7f' and c != '\\' for c in text):
        return text
    return ''.join(shown(c) for c in text)


def path_text(path):
    """A path as its error line shows it: a native str, escaped."""
    if path is None:
        return UNNAMED
    if hasattr(path, '__fspath__'):
        path = path.__fspath__()
    if str is bytes:  # Python 2: a str is bytes already; unicode is encoded for the line
        if not isinstance(path, str):
            path = path.encode(sys.getfilesystemencoding() or 'utf-8', 'backslashreplace')
        return escape(path)
    if isinstance(path, bytes):
        path = path.decode(sys.getfilesystemencoding(), 'surrogateescape')
    return escape(path)


class ConversionError(Exception):
    """What went wrong with one input or output.

    str() is the command's error line without its `dds2png: ` prefix:
    `PATH: message`, the path escaped as `ls -b` shows it. `path` is the
    source or target as the caller gave it (for a file object, its name
    where it has one, else None), `reason` the message alone, and `errno`
    the operating system's error number, or None when the fault is not the
    system's. Subclasses: NotDDSError, NotDXT1Error, MalformedError,
    TruncatedError."""

    def __init__(self, path, reason, errno=None):
        Exception.__init__(self, path, reason, errno)

    path = property(lambda self: self.args[0])
    reason = property(lambda self: self.args[1])
    errno = property(lambda self: self.args[2])

    def __str__(self):
        return '%s: %s' % (path_text(self.path), self.reason)


class NotDDSError(ConversionError):
    """The input does not start as a DDS file does."""


class NotDXT1Error(ConversionError):
    """A DDS file of a format other than DXT1 (BC1)."""


class MalformedError(ConversionError):
    """A DDS header whose fields contradict each other or the format's limits."""


class TruncatedError(ConversionError):
    """The input ends before the header or the surfaces it needs."""


def system_error(path, error):
    """The ConversionError of an operating-system error, without the paths Python adds to its text."""
    return ConversionError(path, error.strerror or str(error), error.errno)
