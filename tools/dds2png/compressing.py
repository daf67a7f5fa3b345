"""Compressing a PNG's image data in strips, by threads: the strips are raw
deflate, each from a fresh compressor, ended with a sync flush (the last
one finished), so that joined behind a zlib header and followed by the
Adler-32 of all their data they are one valid zlib stream. The strips are
compressed without the interpreter lock (see deflate), so threads use the
cores; they compress and do nothing else: the data is read and the stream
written by the caller's thread, in order, which compresses strips itself
only while no thread is at work. Threads the system will not start (memory
or a limit ran out) mean fewer threads, down to the caller's alone.
Signals are held while the threads start."""
import collections
import os
import signal
import struct
import time
import zlib

try:
    import _thread as low_level_threads
except ImportError:  # Python 2
    import thread as low_level_threads

from .deflate import IN_PARALLEL, new_compressor

STRIPS_AHEAD = 2            # strips a thread may have waiting, compressed or not, before one is written
# How long the writer, ending, waits for a thread it made to take its first
# step (a thread starts in well under a millisecond), and how often it looks.
BIRTH_SECONDS, BIRTH_POLL_SECONDS = 10, 0.001
# The zlib header's first byte: method 8 (deflate), window 2 ** (7 + 8) = 32 KiB.
ZLIB_CMF = 0x78
ZLIB_FLEVEL_SHIFT = 6       # FLEVEL, the compressor's effort, in the top two bits of FLG
ZLIB_CHECK = 31             # FCHECK makes CMF * 256 + FLG a multiple of 31


def usable_cores():
    """The cores this process may run on: its affinity where the system
    tells it (Python 3), else the cores online."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except (AttributeError, OSError):
        try:
            return max(1, os.sysconf('SC_NPROCESSORS_ONLN'))
        except (AttributeError, OSError, ValueError):
            return 1


def zlib_header(level):
    """The two bytes before the deflate data: CMF, and FLG with FLEVEL for
    the level as zlib itself sets it (0 fastest, 1 fast, 2 default, 3
    smallest) and FCHECK."""
    flevel = 0 if level < 2 else 1 if level < 6 else 2 if level == 6 else 3
    header = (ZLIB_CMF << 8) | (flevel << ZLIB_FLEVEL_SHIFT)
    return struct.pack('>H', header + ZLIB_CHECK - header % ZLIB_CHECK)


def threads_for(strips, threads=None):
    """The threads that compress `strips` strips: at most `threads` (None:
    as many as the process may use cores), one where threads cannot
    compress at once."""
    threads = usable_cores() if threads is None else threads
    return min(strips, threads) if IN_PARALLEL else 1


def write_zlib_stream(write, strips, level, threads):
    """Writes, through write(bytes), the strips ((data, is the last strip)
    pairs) as raw deflate joined into one zlib stream, compressed at
    `level` by `threads` threads (1: by this one)."""
    write(zlib_header(level))
    adler = compress_each(write, strips, level, threads)
    write(struct.pack('>I', adler & 0xffffffff))


def compress_each(write, strips, level, threads):
    """Writes, through write(bytes), each of the strips ((data, is the last
    strip) pairs) as raw deflate, in order, compressed at `level` by
    `threads` threads (1: by this one); returns the Adler-32 of all their
    data. A strip marked last is a whole deflate stream: an OpenEXR file's
    blocks are each one, all marked last."""
    if threads <= 1:
        return compress_here(write, strips, level)
    with Compressors(level, threads) as compressors:
        if compressors.compressors:
            return compress_in_threads(write, strips, compressors)
        return compress_here(write, strips, level)  # the system would start none


def compress_here(write, strips, level):
    """Compresses the strips in this thread; returns the Adler-32 of their data."""
    adler = zlib.adler32(b'')
    compress_strip = new_compressor()
    for data, last in strips:
        adler = zlib.adler32(data, adler)
        write(compress_strip(level, data, last))
    return adler


def compress_in_threads(write, strips, compressors):
    """Compresses the strips in the compressors' threads; returns the Adler-32 of their data."""
    adler = zlib.adler32(b'')
    waiting, threads = collections.deque(), len(compressors.compressors)
    for data, last in strips:
        adler = zlib.adler32(data, adler)
        waiting.append(compressors.submit(data, last))
        data = None
        while waiting and (len(waiting) >= STRIPS_AHEAD * threads or waiting[0].is_done()):
            write(compressors.result(waiting.popleft()))
    while waiting:
        write(compressors.result(waiting.popleft()))
    return adler


# The threads and the writer hand strips over through a deque and bare locks
# alone. An interrupt (Ctrl-C) comes as an exception in the writer's thread,
# between any two of its steps; inside the Python code of a queue or an
# event it could leave their inner lock held and a thread waiting on it for
# ever. A deque's append and a lock's acquire or release are single steps.
#
# Each thread is made by one call into C and waited for through a lock it
# releases as its last step: threading's Thread.start() and join() run Python
# code that an interrupt breaks half-way, and start() waits for ever for a
# thread that the system made but that had no memory to run.

class Strip(object):
    """One strip handed to the compressing threads, and what came of it."""

    def __init__(self, data, last):
        self.data, self.last = data, last
        self.compressed = self.error = None
        self.done = low_level_threads.allocate_lock()
        self.done.acquire()  # released once the strip is compressed (or dropped)

    def is_done(self):
        return not self.done.locked()

    def compress(self, compress_strip, level, dropped=False):
        """Compresses the data, or drops it, and marks the strip done."""
        try:
            if not dropped:
                self.compressed = compress_strip(level, self.data, self.last)
        except Exception as e:  # MemoryError, above all: the writer raises it
            self.error = e
        finally:
            self.data = None
            self.done.release()

    def result(self):
        """The compressed strip, once it is done; what it raised, if it failed."""
        self.done.acquire()
        self.done.release()
        if self.error is not None:
            raise self.error
        return self.compressed


class Compressor(object):
    """A thread that compresses strips from the deque it shares with the
    others until it takes None from it."""

    def __init__(self, level, strips):
        self.level, self.strips, self.stopping = level, strips, False
        # Made here, in the writer's thread: the thread itself looks up no
        # module's names, which an exiting interpreter sets to None.
        self.compress_strip = new_compressor()
        self.wake = low_level_threads.allocate_lock()
        self.wake.acquire()  # released when strips may be waiting; the thread takes it back to wait again
        self.started = False
        self.begun = self.finished = False  # set by the thread: first, and before it releases `ended`
        self.ended = low_level_threads.allocate_lock()
        self.ended.acquire()

    def start(self):
        low_level_threads.start_new_thread(self.run, ())
        self.started = True

    def join(self):
        """Waits for the thread, once it has been told to end. One that has
        not begun within BIRTH_SECONDS never will (the system made it, but
        the interpreter had no memory to run it), and is not waited for."""
        if not self.started:
            return
        waited = 0
        while not self.begun and waited < BIRTH_SECONDS:
            time.sleep(BIRTH_POLL_SECONDS)
            waited += BIRTH_POLL_SECONDS
        if self.begun and not self.finished:
            # An interrupt after the acquire finds `finished` set on the
            # next call, rather than a lock this thread holds.
            self.ended.acquire()
            self.ended.release()
        self.started = False

    def run(self):
        self.begun = True
        try:
            self.work()
        except BaseException as e:
            # Memory ran out even for the thread's own steps: the strips
            # waiting fail with it, rather than wait for ever for this thread.
            # (Written out here: a call could fail the same way.)
            while True:
                try:
                    strip = self.strips.popleft()
                except IndexError:
                    break
                if strip is None:  # the ending has begun: that None is another thread's
                    self.strips.appendleft(strip)
                    break
                strip.error, strip.data = e, None
                strip.done.release()
        finally:
            self.finished = True
            self.ended.release()

    def call(self):
        if self.wake.locked():  # only the writer's thread releases it
            self.wake.release()

    def work(self):
        while True:
            self.wake.acquire()
            while True:
                try:
                    strip = self.strips.popleft()
                except IndexError:
                    break  # none left: wait to be called again
                if strip is None:
                    return
                try:
                    strip.compress(self.compress_strip, self.level, self.stopping)
                except BaseException as e:
                    if strip.done.locked():  # the call itself failed: no memory for it
                        strip.error, strip.data = e, None
                        strip.done.release()
                    raise


class Compressors(object):
    """Threads that compress strips, started on entry and ended on
    exit whatever ends the block (an error reading or writing, an interrupt):
    strips not yet begun are dropped, and the exit waits for those being
    compressed, which takes at most one strip's time. A writer waiting for a
    strip while no thread is at work compresses strips itself, so that they
    are compressed even when threads the system made never run."""

    def __init__(self, level, threads):
        self.level, self.strips = level, collections.deque()
        self.compress_strip = new_compressor()  # the writer's own
        self.compressors = [Compressor(level, self.strips) for _ in range(threads)]

    def __enter__(self):
        # Signals wait while the threads start: an interrupt inside start(),
        # or between making a thread and noting it, would leave a thread that
        # is not known to be alive, so never joined (Python 2's then ran on
        # into the interpreter's exit, and failed there), and an interpreter
        # that exits while a thread starts crashes. One that waited comes
        # once they have started, and ends them. The mask is read before it
        # changes, so that it is given back even when an interrupt comes as
        # the signals are held.
        try:
            mask = signal_mask()
            try:
                hold_signals()
                for compressor in self.compressors:
                    try:
                        compressor.start()
                    except (low_level_threads.error, MemoryError):  # "can't start new thread"
                        break
                # Fewer threads, or none (the writer then compresses alone).
                self.compressors = [compressor for compressor in self.compressors if compressor.started]
            finally:
                set_signal_mask(mask)
            return self  # inside the try: an interrupt up to here ends the threads
        except BaseException:
            self.__exit__()
            raise

    def submit(self, data, last):
        """Hands the strip to whichever thread is free first."""
        strip = Strip(data, last)
        self.strips.append(strip)
        for compressor in self.compressors:
            compressor.call()
        return strip

    def result(self, strip):
        """The compressed strip. While no thread is at work (the system may
        have made threads that will never run, or that ran out of memory
        before their first strip), the writer compresses the oldest strip
        waiting itself (this one, or one before it) rather than wait; once
        one is, the threads do it all."""
        while not strip.is_done() and not any(compressor.begun and not compressor.finished
                                              for compressor in self.compressors):
            try:
                waiting = self.strips.popleft()
            except IndexError:
                break  # every strip is taken
            waiting.compress(self.compress_strip, self.level)
        return strip.result()

    def __exit__(self, *exc_info):
        """Ends every thread: an interrupt meanwhile (another Ctrl-C) starts
        the ending again, and is raised once they are all gone."""
        interrupted = None
        while True:
            try:
                for compressor in self.compressors:
                    compressor.stopping = True
                self.strips.extend([None] * len(self.compressors))  # after every strip: one for each thread
                for compressor in self.compressors:
                    compressor.call()
                for compressor in self.compressors:
                    compressor.join()
                break
            except KeyboardInterrupt as e:
                interrupted = e
        if interrupted is not None:
            raise interrupted


# A thread's signal mask: signal_mask() reads it, hold_signals() blocks
# every signal, set_signal_mask() gives back what signal_mask() read.
if hasattr(signal, 'pthread_sigmask'):
    def signal_mask():
        return signal.pthread_sigmask(signal.SIG_BLOCK, [])

    def hold_signals():
        numbers = signal.valid_signals() if hasattr(signal, 'valid_signals') else range(1, signal.NSIG)
        signal.pthread_sigmask(signal.SIG_BLOCK, numbers)

    def set_signal_mask(mask):
        signal.pthread_sigmask(signal.SIG_SETMASK, mask)
else:
    # Python 2's signal module has no pthread_sigmask: the C library's, through
    # ctypes. Its `how` values and the size of a sigset_t, as Linux defines them.
    C_SIG_BLOCK, C_SIG_SETMASK, C_SIGSET_BYTES = 0, 2, 128

    def c_signal_masks():
        """The three functions through the C library, or ones that do
        nothing where it cannot be reached (the threads then start with
        signals free, as they did before)."""
        try:
            import ctypes
            pthread_sigmask = ctypes.CDLL(None).pthread_sigmask
        except (ImportError, OSError, AttributeError):
            return (lambda: None), (lambda: None), (lambda mask: None)
        pthread_sigmask.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p]
        every_signal = ctypes.create_string_buffer(b'\xff' * C_SIGSET_BYTES, C_SIGSET_BYTES)

        def signal_mask():
            mask = ctypes.create_string_buffer(C_SIGSET_BYTES)
            pthread_sigmask(C_SIG_BLOCK, None, mask)
            return mask

        def hold_signals():
            pthread_sigmask(C_SIG_BLOCK, every_signal, None)

        def set_signal_mask(mask):
            pthread_sigmask(C_SIG_SETMASK, mask, None)
        return signal_mask, hold_signals, set_signal_mask
    signal_mask, hold_signals, set_signal_mask = c_signal_masks()
