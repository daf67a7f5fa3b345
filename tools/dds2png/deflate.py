"""Raw deflate of one strip of a PNG's rows, callable from several threads at once.

Python 3's zlib module lets go of the interpreter lock while it compresses,
and each compressor has a lock of its own, so threads compress at once.
Python 2's takes one lock for the whole module: two threads compressing take
twice as long as one. There the strips go to the system's zlib through
ctypes, which lets go of the interpreter lock for the call and takes no
other. Where that library cannot be loaded, strips are compressed by the
module, one thread at a time (IN_PARALLEL is False)."""
import zlib

Z_OK, Z_STREAM_END, Z_MEM_ERROR, Z_BUF_ERROR = 0, 1, -4, -5
RAW_WINDOW_BITS = -zlib.MAX_WBITS   # negative: deflate data with no zlib header or check value
MEMORY_LEVEL = 8                    # zlib's default, as the module's compressobj uses
FLUSH_ROOM = 64                     # bytes beyond deflateBound for a sync flush's empty stored block
ZLIB_SONAME = 'libz.so.1'           # the system's zlib 1.x, as the dynamic loader finds it


def compress_with_module(level, data, last):
    """Raw deflate of `data`, ending on a byte boundary (sync flush), or the stream's end."""
    compressor = zlib.compressobj(level, zlib.DEFLATED, RAW_WINDOW_BITS)
    return compressor.compress(data) + compressor.flush(zlib.Z_FINISH if last else zlib.Z_SYNC_FLUSH)


def failure(status):
    """What the zlib module raises for the status."""
    return MemoryError() if status == Z_MEM_ERROR else zlib.error('Error %d while compressing data' % status)


def system_zlib():
    """A maker of compress_with_module's twins calling the system's zlib through ctypes, or None."""
    try:
        import ctypes
    except ImportError:
        return None
    try:
        library = ctypes.CDLL(ZLIB_SONAME)
    except OSError:
        try:
            import ctypes.util  # imports much, and runs ldconfig: only where the usual name fails
            library = ctypes.CDLL(ctypes.util.find_library('z'))
        except (ImportError, OSError, TypeError):
            return None

    class Stream(ctypes.Structure):  # z_stream, as zlib.h lays it out
        _fields_ = [('next_in', ctypes.c_void_p), ('avail_in', ctypes.c_uint), ('total_in', ctypes.c_ulong),
                    ('next_out', ctypes.c_void_p), ('avail_out', ctypes.c_uint), ('total_out', ctypes.c_ulong),
                    ('msg', ctypes.c_char_p), ('state', ctypes.c_void_p),
                    ('zalloc', ctypes.c_void_p), ('zfree', ctypes.c_void_p), ('opaque', ctypes.c_void_p),
                    ('data_type', ctypes.c_int), ('adler', ctypes.c_ulong), ('reserved', ctypes.c_ulong)]
    stream_pointer = ctypes.POINTER(Stream)
    library.zlibVersion.restype = ctypes.c_char_p
    library.deflateInit2_.argtypes = [stream_pointer] + [ctypes.c_int] * 5 + [ctypes.c_char_p, ctypes.c_int]
    library.deflate.argtypes = [stream_pointer, ctypes.c_int]
    library.deflateBound.argtypes = [stream_pointer, ctypes.c_ulong]
    library.deflateBound.restype = ctypes.c_ulong
    library.deflateEnd.argtypes = [stream_pointer]
    version = library.zlibVersion()

    def new_compressor():
        """A compress_with_module twin for one thread at a time, which keeps
        its output buffer from one strip to the next (fresh memory for each
        costs the system time of its pages)."""
        kept = [ctypes.create_string_buffer(0)]

        def buffer_of(size):
            if len(kept[0]) < size:
                kept[0] = ctypes.create_string_buffer(size)
            return kept[0]
        return lambda level, data, last: compress_with_library(level, data, last, buffer_of)

    def compress_with_library(level, data, last, buffer_of):
        stream = Stream()
        status = library.deflateInit2_(ctypes.byref(stream), level, zlib.DEFLATED, RAW_WINDOW_BITS, MEMORY_LEVEL,
                                       zlib.Z_DEFAULT_STRATEGY, version, ctypes.sizeof(Stream))
        if status != Z_OK:
            raise failure(status)
        try:
            source = ctypes.c_char_p(data)  # the bytes' own buffer, not a copy; `data` keeps it alive
            stream.next_in, stream.avail_in = ctypes.cast(source, ctypes.c_void_p), len(data)
            pieces, flush = [], zlib.Z_FINISH if last else zlib.Z_SYNC_FLUSH
            while True:
                size = library.deflateBound(ctypes.byref(stream), stream.avail_in) + FLUSH_ROOM
                target = buffer_of(size)
                stream.next_out, stream.avail_out = ctypes.addressof(target), size
                status = library.deflate(ctypes.byref(stream), flush)
                pieces.append(ctypes.string_at(target, size - stream.avail_out))
                if status not in (Z_OK, Z_STREAM_END, Z_BUF_ERROR):
                    raise failure(status)
                # Done when all is in and the flush had room to end (a full
                # buffer may hide more); a finish says so itself.
                if status == Z_STREAM_END or (not last and stream.avail_in == 0 and stream.avail_out > 0):
                    return b''.join(pieces)
        finally:
            library.deflateEnd(ctypes.byref(stream))
    return new_compressor


def module_compressor():
    return compress_with_module


# new_compressor() gives a function f(level, data, last) that compresses
# strips, for one thread at a time; those of several threads run at once
# where IN_PARALLEL.
if str is bytes:  # Python 2
    new_compressor = system_zlib()
    IN_PARALLEL = new_compressor is not None
    new_compressor = new_compressor or module_compressor
else:
    new_compressor, IN_PARALLEL = module_compressor, True
