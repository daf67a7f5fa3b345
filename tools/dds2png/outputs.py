"""Writing an output safely, for the input and for what is there.

A new path or a regular file gets a temporary file in its folder, renamed
over it when complete and given the old file's permission bits; a symbolic
link is written through to its target, as cp does; anything else that
exists (a device, a FIFO), and every path under /dev and /proc, which name
open files and devices, is written in place. A path ending in a slash
names a folder, as for GNU tools. Whatever interrupts the writing (Ctrl-C
included) leaves no temporary file and no open descriptor behind."""
import errno
import functools
import io
import itertools
import os
import select
import stat
import time

from .errors import escape, ConversionError, system_error
from .targets import check_target_name

NEW_FILE_MODE = 0o666       # less the umask, as for any file a program makes
PRIVATE_MODE = 0o600
MOST_LINKS = 40             # symbolic links followed in one path, as the system follows
STREAM_NAMES = {0: 'standard input', 1: 'standard output', 2: 'standard error'}
ST_RDONLY = getattr(os, 'ST_RDONLY', 1)  # statvfs's flag of a read-only mount: Linux's value, unnamed in Python 2

# Tells apart the temporary outputs of one process; with its id and the
# time, a name no other call has (O_EXCL makes sure). Not os.urandom, which
# keeps a descriptor open for good under Python 2.
temporary_counter = itertools.count()

# Temporary outputs not yet renamed into place or removed. Each name is listed
# before its file is made, so that a command's handler of an interrupt that
# came during the clean-up can still remove every one.
unfinished = set()
# Standard streams that were closed when the command started (the command
# puts /dev/null, read-only, in their place, so that no file opened later
# takes their number). A library caller's process has none.
closed_streams = set()


def temporary_name(pid, tail):
    return '.dds2png-%d-%s.tmp' % (pid, tail)


def remove_temporaries(pid, folder):
    """Removes the temporary outputs a process that died left in the folder."""
    prefix, suffix = temporary_name(pid, '').split('.tmp')[0], '.tmp'
    try:
        for name in os.listdir(folder):
            if name.startswith(prefix) and name.endswith(suffix):
                os.unlink(os.path.join(folder, name))
    except EnvironmentError:
        pass  # nothing there, or not ours to remove


def remove(temp):
    """Removes a temporary output, if it was made and not renamed."""
    try:
        os.unlink(temp)
    except EnvironmentError:
        pass  # not made yet, or already renamed into place
    unfinished.discard(temp)


def remove_unfinished():
    for temp in list(unfinished):
        remove(temp)


if hasattr(io.FileIO, '__enter__') and str is not bytes:
    def create_file(path, mode):
        """A new file (O_EXCL) as a file object, made with the permission bits
        `mode` less the umask. The descriptor is never held bare: the opener
        is called from C, so no interrupt can come between the open and the
        file object that closes it."""
        return io.FileIO(path, 'xb', opener=functools.partial(os.open, mode=mode))
else:
    def create_file(path, mode):
        # Python 2 has neither mode 'x' nor openers: see close_descriptors_of().
        return os.fdopen(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, mode), 'wb')


def close_descriptors_of(path):
    """Closes any descriptor of this process open on `path`: under Python 2 an
    interrupt can come between the open and the file object, and only the
    system then knows the descriptor."""
    folder = '/proc/self/fd'
    try:
        descriptors = os.listdir(folder)
    except EnvironmentError:
        return
    for name in descriptors:
        try:
            if os.readlink(os.path.join(folder, name)) == os.path.abspath(path):
                os.close(int(name))
        except (EnvironmentError, ValueError):
            pass  # closed meanwhile, or not a descriptor


def closed_stream_named(path):
    """The closed standard stream the path names through /dev/stdout,
    /dev/fd/N or /proc/self/fd/N, or None: opened, it would be the
    /dev/null put in the stream's place, and what is written would be lost."""
    if not closed_streams:
        return None
    fd_folder = os.path.realpath('/proc/self/fd')
    for _ in range(MOST_LINKS):
        folder, name = os.path.split(path)
        if name.isdigit() and int(name) in closed_streams and os.path.realpath(folder) == fd_folder:
            return int(name)
        if not os.path.islink(path):
            break
        path = os.path.join(folder, os.readlink(path))
    return None


def identity_of(file):
    try:
        found = os.fstat(file.fileno())
    except (AttributeError, EnvironmentError, ValueError, io.UnsupportedOperation):
        return None
    return found.st_dev, found.st_ino


def wait_for(fd, event):
    """Waits until descriptor `fd` is ready for `event` (select.POLLIN or
    POLLOUT). An error or a hang-up ends the wait too: the read or write then
    says which."""
    poller = select.poll()
    poller.register(fd, event)
    while True:
        try:
            poller.poll()
            return
        except (select.error, EnvironmentError) as e:  # Python 2's select.error is neither
            number = e.args[0]
            if number != errno.EINTR:  # Python 2 returns from a signal it handled; 3 retries itself
                raise IOError(number, os.strerror(number))


def wait_until_writable(file):
    """Waits until the file's descriptor takes bytes again; EAGAIN where it has none."""
    try:
        fd = file.fileno()
    except (AttributeError, EnvironmentError, ValueError, io.UnsupportedOperation):
        raise IOError(errno.EAGAIN, 'took no bytes, and has no descriptor to wait on')
    wait_for(fd, select.POLLOUT)


class WholeWrites(object):
    """A binary file whose write() writes every byte it is given, or raises.
    A raw file (io.RawIOBase: an unbuffered open(), sys.stdout.buffer.raw)
    may take fewer bytes than given, and none (returning None) when it is
    non-blocking and full; a buffered one that would block raises
    BlockingIOError, saying how much it took. The rest is written once the
    file takes bytes again. flush() flushes a file that has flush(): a
    target may have write() alone."""

    def __init__(self, file):
        self.file = file
        # From a raw file None means "none taken"; from Python 2's file
        # objects, and those of one's own, "all taken".
        self.none_is_nothing = isinstance(file, io.RawIOBase)

    def write(self, data):
        while True:
            blocked = False
            try:
                count = self.file.write(data)
            except io.BlockingIOError as e:
                count, blocked = e.characters_written, True
            if count is None:
                if not self.none_is_nothing:
                    return
                count, blocked = 0, True
            if count >= len(data):
                return
            if count:
                data = memoryview(data)[count:]
            elif blocked:
                wait_until_writable(self.file)
            else:  # neither taken nor refused: trying again would do the same
                raise IOError(errno.EIO, 'took none of %d bytes' % len(data))

    def flush(self):
        flush = getattr(self.file, 'flush', None)
        while flush is not None:
            try:
                flush()
                return
            except io.BlockingIOError:
                wait_until_writable(self.file)


def on_read_only_file_system(path):
    try:
        return bool(os.statvfs(path).f_flag & ST_RDONLY)
    except EnvironmentError:
        return False


def write_to_file(shown, file, source, write):
    """Runs write(file) on a caller's open binary file (standard output for `-`)."""
    if source is not None and identity_of(file) == source:
        raise ConversionError(shown, 'standard output is the input file itself' if shown == '-'
                              else 'is the input file itself')
    try:
        out = WholeWrites(file)
        write(out)
        out.flush()
    except EnvironmentError as e:
        raise system_error(shown, e)


def write_output(shown, path, source, write):
    """Runs write(file) on a new or replaced file at the file system path
    `path`; `source` is the input's (device, inode) or None; errors name `shown`."""
    try:
        existing = os.stat(path)
    except EnvironmentError as e:
        if e.errno != errno.ENOENT:
            raise system_error(shown, e)
        if os.path.islink(path):
            raise ConversionError(shown, 'not writing through a dangling symbolic link')
        existing = None
    if existing is not None:
        if (existing.st_dev, existing.st_ino) == source:
            raise ConversionError(shown, 'is the input file itself')
        if stat.S_ISDIR(existing.st_mode):
            raise ConversionError(shown, os.strerror(errno.EISDIR), errno.EISDIR)
    if path.endswith(os.sep):
        raise ConversionError(shown, os.strerror(errno.ENOTDIR), errno.ENOTDIR)
    check_target_name(shown, path)
    closed = closed_stream_named(path)
    if closed is not None:
        raise ConversionError(shown, '%s is closed' % STREAM_NAMES[closed])
    try:
        if existing is not None and (not stat.S_ISREG(existing.st_mode) or path.startswith(('/dev/', '/proc/'))):
            with open(path, 'wb') as out:
                write(WholeWrites(out))
            return
        # An existing file is replaced where its links lead; a new one is made
        # where the system would make it, so that `new/.` or `missing/../x.png`
        # fail as they would for any program rather than name a file they do not.
        target = os.path.realpath(path) if existing is not None else path
        if existing is not None and not os.access(target, os.W_OK):
            # Refused as the system would refuse to open it, though renaming
            # over it needs only the folder's permission.
            refused = errno.EROFS if on_read_only_file_system(target) else errno.EACCES
            raise ConversionError(shown, os.strerror(refused), refused)
        replace(target, existing, write)
    except EnvironmentError as e:
        raise system_error(shown, e)


def replace(target, existing, write):
    """Writes a temporary file `.dds2png-<process id>-<random>.tmp` beside
    `target` and renames it over it. A new file gets the umask from the
    system as it is made: reading the umask means setting it, which threads
    converting at once would race on. A file replaced stays private until it
    has the old file's bits. Whatever comes (an interrupt even after the
    rename), the caller gets it unchanged and the temporary file is gone."""
    folder = os.path.dirname(target)
    temp = out = None
    try:
        while out is None:
            tail = '%x-%x' % (int(time.time() * 1e6), next(temporary_counter))
            temp = os.path.join(folder, temporary_name(os.getpid(), tail))
            unfinished.add(temp)
            try:
                out = create_file(temp, NEW_FILE_MODE if existing is None else PRIVATE_MODE)
            except EnvironmentError as e:
                if e.errno in (errno.EACCES, errno.EPERM, errno.EROFS) and existing is not None:
                    # The file may be writable; its folder, where the new one is made, is not.
                    raise IOError(e.errno, 'cannot make a file in its folder %s: %s (the PNG is written '
                                           'there, then renamed over the file)' % (escape(folder), e.strerror))
                if e.errno != errno.EEXIST:
                    raise
                unfinished.discard(temp)
                temp = None  # another's file: never removed here
        with out:
            write(WholeWrites(out))
        if existing is not None:
            os.chmod(temp, stat.S_IMODE(existing.st_mode))
            if (existing.st_uid, existing.st_gid) != (os.getuid(), os.getgid()):
                try:
                    os.chown(temp, existing.st_uid, existing.st_gid)
                except EnvironmentError:
                    pass  # only the superuser may give a file away
        os.rename(temp, target)
    except BaseException:
        # Another interrupt (a second Ctrl-C, or the SIGTERM by which a pool
        # ends workers that took the Ctrl-C sent to the group) starts the
        # clean-up again, and is raised once the file is gone: it left the
        # file behind. The loop is here, not in a function: a signal that came
        # with the first is taken at a function's first step, before any try in it.
        again = None
        while True:
            try:
                discard(out, temp)
                break
            except (KeyboardInterrupt, SystemExit) as e:
                again = e
        if again is not None:
            raise again
        raise
    finally:
        unfinished.discard(temp)


def discard(out, temp):
    """Closes and removes an unfinished temporary output."""
    if out is not None:
        out.close()  # closed already, unless the interrupt came just before the with
    elif temp is not None and str is bytes:
        close_descriptors_of(temp)
    if temp is not None:
        remove(temp)  # nothing there once renamed: the removal then fails quietly
