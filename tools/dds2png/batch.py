"""A batch: each file converted in a process of its own, as many at once as
there are cores (and each with the threads the cores left over allow).
Each decoding call holds the interpreter lock, so processes, not threads,
use the cores; a process for each file keeps any fault to that file. Used
by the command, which owns the signal handlers."""
import errno
import os
import signal
import sys

from .errors import escape, out_of_memory, path_text, ConversionError
from .library import Look, convert, write_image_of
from .outputs import remove_temporaries, remove_unfinished

LONGEST_REPORT = 1 << 15    # a worker's error line, well inside a pipe's buffer
SIGNAL_STATUS = 128         # the shell reports a command a signal ended as 128 + the signal's number
INTERRUPTED_STATUS = SIGNAL_STATUS + signal.SIGINT  # 130, for Ctrl-C
# Signals that end the command as Ctrl-C does, removing its temporary outputs,
# with status SIGNAL_STATUS + the signal's number: kill and timeout send
# SIGTERM, a closed terminal SIGHUP.
STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


def encoded(text):
    """Text as bytes, the undecodable bytes of paths given back as they were (Python 3)."""
    return text if isinstance(text, bytes) else text.encode(sys.getfilesystemencoding(), 'surrogateescape')


def decoded(data):
    """The reverse of encoded()."""
    return data if str is bytes else data.decode(sys.getfilesystemencoding(), 'surrogateescape')


def conversion_error(job, output=None):
    """Converts one (source, target, level, layer, compression, threads, opaque, rule, normal_map, depth,
    format) job,
    the arguments of convert(); returns its ConversionError, or None when it
    converted. With `output`, the file goes there instead of to the target
    (see write_image_of)."""
    try:
        if output is None:
            convert(*job)
        else:
            write_image_of(job[0], job[2], job[3], output, job[4], job[5], Look(*job[6:]))
    except ConversionError as e:
        return e
    except MemoryError:
        return out_of_memory(job[0])
    except Exception as e:  # a fault of the tool itself: still one line, naming the input
        return ConversionError(job[0], 'unexpected error (%s: %s)' % (type(e).__name__, escape(str(e))))
    return None


def ignore_signal(signum, frame):
    """A handler that does nothing. Unlike SIG_IGN, it also takes a signal
    that came before it was set, which Python 3 would report as a race."""


class Interrupted(KeyboardInterrupt):
    """A stop signal, taken as Ctrl-C is; `signum` is the signal's number."""

    def __init__(self, signum):
        KeyboardInterrupt.__init__(self, signum)
        self.signum = signum


def interrupt(signum, frame):
    raise Interrupted(signum)


def handle_stop_signals(handler, previous=None):
    """Sets the handler of each stop signal that was not ignored when the
    command started (nohup ignores SIGHUP, a shell's background job SIGINT);
    returns the handlers it replaced, each noted in `previous` before it is
    replaced, so that an interrupt in between loses none. Outside the main
    thread, where no handler can be set, it sets none (Ctrl-C is the main
    thread's)."""
    previous = {} if previous is None else previous
    for number in STOP_SIGNALS:
        current = signal.getsignal(number)
        if current == signal.SIG_IGN:
            continue
        noted = number not in previous
        previous.setdefault(number, current)
        try:
            signal.signal(number, handler)
        except ValueError:  # not the main thread
            if noted:
                del previous[number]
            break
    return previous


def restore_signals(previous):
    """Puts back the handlers `previous` holds. A stop signal that comes
    meanwhile cannot stop it half-way: it is taken by a handler that does
    nothing, and the restoring starts again; returns whether one came."""
    came = False
    while True:
        try:
            for number in previous:
                signal.signal(number, ignore_signal)
            for number, handler in previous.items():
                signal.signal(number, handler)
            return came
        except KeyboardInterrupt:
            came = True


def interrupt_worker(signum, frame):
    """A batch worker's handler of the stop signals: the first ends the
    conversion, through the clean-up of the temporary output; any more are ignored."""
    handle_stop_signals(ignore_signal)
    raise KeyboardInterrupt


def start_worker(job, interrupted, others):
    """Forks a process that converts one job and writes its error line, if
    any, to a pipe; returns (pid, the pipe's read end). `others` are the
    running workers' read ends, which the new worker closes. Raises
    EnvironmentError, with nothing left open, when the system has no
    descriptor or process to spare."""
    read_end, write_end = os.pipe()
    try:
        pid = os.fork()
    except BaseException:
        os.close(read_end)
        os.close(write_end)
        raise
    if pid == 0:
        status = INTERRUPTED_STATUS
        try:
            handle_stop_signals(interrupt_worker)
            if interrupted:  # before the handlers above were set
                raise KeyboardInterrupt
            for descriptor in others + [read_end]:
                os.close(descriptor)
            error = conversion_error(job)
            os.write(write_end, encoded(str(error) if error else '')[:LONGEST_REPORT])
            status = 0
        except BaseException:
            remove_unfinished()
        finally:
            os._exit(status)
    os.close(write_end)
    return pid, read_end


def worker_error(job, status, report):
    """The error line of a finished worker: its report, or what its exit status says."""
    if report:
        return decoded(report)
    if os.WIFSIGNALED(status):
        number = os.WTERMSIG(status)
        names = [name for name in dir(signal) if name.startswith('SIG') and '_' not in name
                 and getattr(signal, name) == number]
        return '%s: the worker converting it was killed by signal %d%s' % (
            path_text(job[0]), number, ' (%s)' % names[0] if names else '')
    if os.WEXITSTATUS(status) != 0:
        return '%s: the worker converting it exited with status %d' % (path_text(job[0]), os.WEXITSTATUS(status))
    return None


def wait_for_worker():
    """The pid and exit status of the next worker to end. A worker found
    stopped is continued: nothing in a batch stops one on purpose, and one
    left stopped would make the batch wait for ever (seen when a stop and a
    continue reached the process group while a worker was being forked)."""
    while True:
        try:
            pid, status = os.waitpid(-1, os.WUNTRACED)
        except OSError as e:  # Python 2 does not retry a wait interrupted by a signal it handles
            if e.errno != errno.EINTR:
                raise
            continue
        if not os.WIFSTOPPED(status):
            return pid, status
        try:
            os.kill(pid, signal.SIGCONT)
        except EnvironmentError:
            pass  # it has ended since


def run_jobs(jobs, workers):
    """Runs each job in a process of its own, `workers` at a time; yields
    each job's error line or None as it finishes. An interrupt (a stop signal) here
    only notes itself and stops the workers, so that no worker can be started
    and lost between a fork and its bookkeeping; once every worker has ended
    (each removing its temporary output), Interrupted is raised."""
    waiting, running, interrupted = list(reversed(jobs)), {}, []

    def stop_workers(signum=None, frame=None):
        if signum is not None:
            interrupted.append(signum)
        for pid in list(running):
            for number in (signal.SIGTERM, signal.SIGCONT):  # a stopped worker must go on to end
                try:
                    os.kill(pid, number)
                except EnvironmentError:
                    pass

    previous = {}
    try:
        handle_stop_signals(stop_workers, previous)
        while running or (waiting and not interrupted):
            while waiting and not interrupted and len(running) < workers:
                job = waiting.pop()
                try:
                    pid, read_end = start_worker(job, interrupted, [end for _, end in running.values()])
                except EnvironmentError as e:
                    if running:  # fewer workers: the job waits for one to end
                        waiting.append(job)
                        break
                    # None to wait for: the file fails, saying the fault is the system's, not the file's.
                    yield '%s: no worker could be started to convert it (%s)' % (
                        path_text(job[0]), e.strerror or str(e))
                    continue
                running[pid] = job, read_end
            if not running:
                continue
            if interrupted:
                stop_workers()  # those started as the interrupt came, too
            pid, status = wait_for_worker()
            if pid not in running:
                continue
            job, read_end = running.pop(pid)
            with os.fdopen(read_end, 'rb') as report:
                error = worker_error(job, status, report.read())
            if status != 0:  # the worker died or was stopped: remove what it was writing
                remove_temporaries(pid, os.path.dirname(os.path.realpath(job[1])))
            if not interrupted:
                yield error
    finally:
        # Left early (an error, or the generator closed): end the workers all the same.
        if running:
            stop_workers()
            while running:
                pid, _ = wait_for_worker()
                if pid in running:
                    job, read_end = running.pop(pid)
                    os.close(read_end)
                    remove_temporaries(pid, os.path.dirname(os.path.realpath(job[1])))
        restore_signals(previous)
    if interrupted:
        raise Interrupted(interrupted[0])
