"""Reading an input: a regular file, read where the plan says a few block
rows at a time, so that memory stays flat; anything else (a pipe, a FIFO, a
device, an empty-looking file such as those under /proc, a caller's file
object) is read in order, in bounded pieces, as far as the plan needs, and
held once. Every size the header gives is checked against what the input
holds before anything is allocated or read."""
import errno
import io
import os
import select
import stat

from .dds import CUBE_FACES, HEADER_END, Plan, Texture, header_size
from .decode import READ_SIZE, window
from .errors import ConversionError, system_error
from .outputs import wait_for


# The most surface data a stream (standard input, a pipe, a caller's file
# object) may hold in memory, and how far --info counts one: a 16384 x 16384
# BC7 surface is 256 MiB, four of them 1 GiB.
STREAM_LIMIT = 1 << 30


def memoryview_of(data):
    return data if str is bytes else memoryview(data)  # Python 2's buffer() windows take the bytearray


class Input(object):
    """An input and where its errors point: `path` is what the caller gave.
    Open a path with Input.open(); a caller's file object is read as a stream
    and left open."""

    def __init__(self, path, file, closes):
        self.path, self.file, self.closes = path, file, closes
        self.stat, self.regular = None, False
        self.position = 0  # of the next byte the file gives
        if hasattr(file, 'fileno'):
            try:
                self.stat = os.fstat(file.fileno())
            except (EnvironmentError, ValueError, io.UnsupportedOperation):
                pass  # a file object with no descriptor behind it
        if closes and self.stat is not None:
            self.regular = stat.S_ISREG(self.stat.st_mode) and self.stat.st_size > 0

    @classmethod
    def open(cls, path, shown):
        """The input at the file system path `path`; errors name `shown`."""
        try:
            # A file object at once: should anything interrupt what follows,
            # dropping it closes the descriptor.
            file = io.open(path, 'rb', buffering=0)
        except EnvironmentError as e:
            raise system_error(shown, e)
        try:
            source = cls(shown, file, True)
            if source.stat is None:
                raise ConversionError(shown, 'cannot be examined')
            if stat.S_ISDIR(source.stat.st_mode):
                raise ConversionError(shown, os.strerror(errno.EISDIR), errno.EISDIR)
        except BaseException:
            file.close()
            raise
        return source

    def identity(self):
        """(device, inode) of the file read, or None."""
        return (self.stat.st_dev, self.stat.st_ino) if self.stat is not None else None

    def fail(self, error):
        """Raises the error, pointed at this input."""
        raise type(error)(self.path, error.reason, error.errno)

    def read_into(self, target):
        """Fills the bytearray `target` from the current position; returns how many bytes came."""
        got = 0
        try:
            while got < len(target):
                if self.closes:
                    # A temporary view: none outlives the call, so the bytearray stays resizable.
                    count = self.file.readinto(memoryview(target)[got:])
                else:
                    asked = len(target) - got
                    try:
                        piece = self.file.read(asked)  # any binary file object has read()
                    except EnvironmentError as e:
                        if e.errno not in (errno.EAGAIN, errno.EWOULDBLOCK):
                            raise
                        piece = None  # Python 2's file that would block
                    if piece is None:  # non-blocking, with nothing yet
                        self.wait_until_readable()
                        continue
                    count = len(piece)
                    if count > asked:
                        # Kept, it would shift every byte after it; dropped, bytes of the file would be lost.
                        self.fail(ConversionError(self.path, 'read(%d) gave %d bytes' % (asked, count)))
                    target[got:got + count] = piece
                if not count:
                    break
                got += count
        except EnvironmentError as e:
            self.fail(system_error(self.path, e))
        self.position += got
        return got

    def wait_until_readable(self):
        """Waits until a non-blocking input's descriptor has bytes (or its end)
        to give, as a full standard output is waited on."""
        try:
            fd = self.file.fileno()
        except (AttributeError, EnvironmentError, ValueError, io.UnsupportedOperation):
            self.fail(ConversionError(self.path, 'gave no data, and has no descriptor to wait on'))
        wait_for(fd, select.POLLIN)

    def read(self, size):
        piece = bytearray(size)
        got = self.read_into(piece)
        del piece[got:]
        return bytes(piece)

    def texture(self):
        """Reads the header and returns its Texture."""
        header = self.read(HEADER_END)
        if header_size(header) > len(header):
            header += self.read(header_size(header) - len(header))
        try:
            return Texture(header, self.stat.st_size if self.regular else None)
        except ConversionError as e:
            self.fail(e)

    def data_size(self, texture):
        """(bytes, at_least): the bytes of surface data the input holds after
        the header, as far as the header's surfaces reach (a stream is read
        that far, or STREAM_LIMIT bytes at most, at_least then True, and what
        it gives dropped); None, and nothing read, where the format's size is
        not known here."""
        needed = texture.data_bytes()
        if needed is None:
            return None, False
        if self.regular:
            return min(max(0, self.stat.st_size - texture.data_start), needed), False
        while self.position < texture.data_start:  # a palette's entries are not surface data
            if not self.read(min(READ_SIZE, texture.data_start - self.position)):
                return 0, False
        got, counted = 0, min(needed, STREAM_LIMIT)
        while got < counted:
            piece = self.read(min(READ_SIZE, counted - got))
            if not piece:
                break
            got += len(piece)
        return got, got < needed and got == STREAM_LIMIT

    def plan(self, level, layer):
        """Reads the header and returns the plan, after checking the input
        holds it (a stream is read and held here)."""
        texture = self.texture()
        try:
            if not self.regular:
                return self.hold(texture, level, layer)
            plan = Plan(texture, level, layer)
            plan.check_available(self.stat.st_size)
        except ConversionError as e:
            self.fail(e)
        return plan

    def hold(self, texture, level, layer):
        """The plan of a stream, whose bytes after the header are read and
        held once: as far as the plan needs; or, where the header holds what
        the data's size may mend (Texture.fit_to: mip levels, a DX10 cube's
        array size), as far as its surfaces reach, so that the stream's size
        mends it as a file's size does."""
        mendable = texture.format.decoded and (texture.levels > 1 or texture.array_size == len(CUBE_FACES))
        end = texture.data_start + texture.data_bytes() if mendable else Plan(texture, level, layer).end
        # No more than a stream may hold: what is past the limit is refused
        # only once the stream has shown it holds that much.
        first, data = self.position, bytearray()
        while self.position < end:
            if len(data) == STREAM_LIMIT:
                raise ConversionError(self.path, 'a stream is held in memory, at most %d bytes of its surface '
                                                 'data; this needs %d (convert it from a file)'
                                      % (STREAM_LIMIT, end - first))
            piece = self.read(min(READ_SIZE, end - self.position, STREAM_LIMIT - len(data)))
            if not piece:
                break
            data += piece
        if mendable:
            texture.fit_to(self.position - texture.data_start)
        plan = Plan(texture, level, layer)
        plan.check_available(self.position)
        self.held = (first, memoryview_of(data))
        return plan

    def reader(self, plan):
        """read_at(offset, size) for decode.rows: bounded reads of a file, or
        windows on the stream's bytes, held when the plan was made."""
        if self.regular:
            return self.read_file_at(plan)
        first, data = self.held
        return lambda offset, size: window(data, offset - first, size)

    def read_file_at(self, plan):
        chunk = [bytearray()]

        def read_at(offset, size):
            if len(chunk[0]) != size:
                chunk[0] = bytearray(size)
            try:
                self.file.seek(offset)
            except EnvironmentError as e:
                self.fail(system_error(self.path, e))
            self.position = offset
            got = self.read_into(chunk[0])
            if got < size:
                # The file shrank since it was checked: say how much it holds now.
                try:
                    now = os.fstat(self.file.fileno()).st_size
                except EnvironmentError:
                    now = offset + got
                self.truncated(plan, min(now, offset + got))
            if offset + size == plan.end:
                self.check_unchanged()
            return memoryview_of(chunk[0])
        return read_at

    def check_unchanged(self):
        """After the last read of a regular file: fails if it was written to
        since it was opened, since the rows decoded before may be of its old
        content and those after of its new. (A file replaced by a rename is
        not written to: what is read is the one opened.)"""
        try:
            now = os.fstat(self.file.fileno())
        except EnvironmentError as e:
            self.fail(system_error(self.path, e))
        if (now.st_size, now.st_mtime) != (self.stat.st_size, self.stat.st_mtime):
            self.fail(ConversionError(self.path, 'changed while it was read'))

    def truncated(self, plan, size):
        try:
            plan.check_available(size)
        except ConversionError as e:
            self.fail(e)

    def close(self):
        if self.closes:
            self.file.close()


def files_in_tree(folder, chosen):
    """(files, errors) below `folder`, in its whole tree: the paths whose
    names `chosen(name)` picks, sorted folder by folder, and a
    ConversionError for each folder that could not be listed (the others
    are passed over silently). Links to folders are not followed, as find
    does not: a link cannot bring a file in twice or loop."""
    files, errors = [], []

    def refused(error):
        errors.append(system_error(error.filename or folder, error))
    for top, folders, names in os.walk(folder, onerror=refused):
        folders.sort()
        files += [os.path.join(top, name) for name in sorted(names) if chosen(name)]
    return files, errors
