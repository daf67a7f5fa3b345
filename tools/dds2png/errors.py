"""The errors the library raises, and how paths appear in their text.

ConversionError keeps every constructor argument in `args`, so that it
pickles and crosses process boundaries (pools, clusters) with its type,
text and fields. Its subclasses name the common kinds of fault; an
operating-system error has its number in `errno`."""
import codecs
import sys

# How `ls -b` shows control characters, so that every message stays one line.
C_ESCAPES = {u'\a': u'\\a', u'\b': u'\\b', u'\t': u'\\t', u'\n': u'\\n', u'\v': u'\\v', u'\f': u'\\f',
             u'\r': u'\\r', u'\\': u'\\\\'}
# Bytes a path's encoding cannot decode become the lone surrogates U+DC80 to
# U+DCFF, as Python 3 makes them (surrogateescape); here for Python 2 too.
ESCAPED_BYTES = (0xDC80, 0xDCFF)
# Characters that end a line or steer a terminal besides the C0 controls:
# DEL, the C1 controls (U+0085 ends a line, U+009B starts an escape
# sequence) and the line and paragraph separators.
INVISIBLE = [(0x7F, 0x9F), (0x2028, 0x2029)]
UNNAMED = u'<file object>'  # a file object without a name
PATH_ENCODING = 'utf-8'     # of the line's text, and of paths where the system names none


def _escape_bytes(error):
    """A decoding error handler: each undecodable byte as U+DC80 + the byte."""
    bad = bytearray(error.object[error.start:error.end])
    return u''.join(unichr(0xDC00 + byte) for byte in bad), error.end  # noqa: F821 (Python 2 only)


if str is bytes:
    codecs.register_error('dds2png-escape', _escape_bytes)
    DECODE_ERRORS = 'dds2png-escape'
else:
    DECODE_ERRORS = 'surrogateescape'
    unichr = chr


def shown(c):
    """One character as the line shows it."""
    code = ord(c)
    if c in C_ESCAPES:
        return C_ESCAPES[c]
    if code < 0x20:
        return u'\\%03o' % code
    if ESCAPED_BYTES[0] <= code <= ESCAPED_BYTES[1]:
        return u'\\%03o' % (code - 0xDC00)
    if 0xD800 <= code <= 0xDFFF:
        return u'\\u%04x' % code
    if any(low <= code <= high for low, high in INVISIBLE):
        return u''.join(u'\\%03o' % byte for byte in bytearray(c.encode(PATH_ENCODING)))
    return c


def line_text(text):
    """Text (a path, a message) as one printable line, as unicode: control
    characters, line separators and undecodable bytes written as `ls -b`
    writes them (\\n, \\033, \\302\\205, \\377...)."""
    if hasattr(text, '__fspath__'):
        text = text.__fspath__()
    if isinstance(text, bytes):
        text = text.decode(sys.getfilesystemencoding() or PATH_ENCODING, DECODE_ERRORS)
    if all(u' ' <= c < u'\x7f' and c != u'\\' for c in text):
        return text
    return u''.join(shown(c) for c in text)


def native(text):
    """Unicode text as the interpreter's str (Python 2: UTF-8 bytes)."""
    return text.encode(PATH_ENCODING) if str is bytes else text


def escape(text):
    """line_text() as a native str."""
    return native(line_text(text))


def path_text(path):
    """A path as its error line shows it: a native str, escaped."""
    return escape(UNNAMED if path is None else path)


class ConversionError(Exception):
    """What went wrong with one input or output.

    str() is the command's error line without its `dds2png: ` prefix:
    `PATH: message`, the path escaped as `ls -b` shows it. `path` is the
    source or target as the caller gave it (for a file object, its name
    where it has one, else None), `reason` the message alone, and `errno`
    the operating system's error number, or None when the fault is not the
    system's. Subclasses: NotDDSError, UnsupportedFormatError (also named
    NotDXT1Error), MalformedError, TruncatedError."""

    def __init__(self, path, reason, errno=None):
        Exception.__init__(self, path, reason, errno)

    path = property(lambda self: self.args[0])
    reason = property(lambda self: self.args[1])
    errno = property(lambda self: self.args[2])

    def __str__(self):
        return native(self.__unicode__())

    def __unicode__(self):  # Python 2's unicode(e) and u'%s' % e
        reason = self.reason
        if isinstance(reason, bytes):
            reason = reason.decode(PATH_ENCODING, 'replace')
        return u'%s: %s' % (line_text(UNNAMED if self.path is None else self.path), reason)


class NotDDSError(ConversionError):
    """The input does not start as a DDS file does."""


class UnsupportedFormatError(ConversionError):
    """A DDS file of a format the converter does not decode; the message names it."""


NotDXT1Error = UnsupportedFormatError  # its first name, from when DXT1 alone was decoded


class MalformedError(ConversionError):
    """A DDS header whose fields contradict each other or the format's limits."""


class TruncatedError(ConversionError):
    """The input ends before the header or the surfaces it needs."""


def out_of_memory(path):
    """The ConversionError of a MemoryError: the call asked for more than the process could have."""
    return ConversionError(path, 'out of memory')


def system_error(path, error):
    """The ConversionError of an operating-system error, without the paths Python adds to its text."""
    return ConversionError(path, error.strerror or str(error), error.errno)
