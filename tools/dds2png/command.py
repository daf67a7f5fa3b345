"""The command: parses arguments, prints, and chooses the exit status. The
process-wide state a command owns (stop-signal handlers, placeholders for
closed standard streams) is set here and restored when main() returns."""
import argparse
import errno
import io
import os
import signal

from .batch import (INTERRUPTED_STATUS, SIGNAL_STATUS, conversion_error, encoded, handle_stop_signals,
                    ignore_signal, interrupt, restore_signals, run_jobs)
from .compressing import usable_cores
from .decode import decoder_description
from .errors import escape, path_text, ConversionError
from .formats import PNG_DEPTHS, TARGET_TYPES, target_type
from .inputs import files_in_tree
from .library import RULES, STANDARD_STREAM, info
from .outputs import STREAM_NAMES, closed_streams, remove_unfinished, write_to_file
from .exr import EXR_COMPRESSION
from .png import LEVELS, PNG_COMPRESSION
from .targets import ALL, FACE_NAMES, beside, in_folder, is_input_name, mirrored, names_folder, outputs_of
from .version import package_version

OPTIONS = ('[--level N|all] [--layer K|all] [--opaque] [--rule design|gpu] [--normal-map] [--depth 8|16] '
           '[--format png|exr] [--compression N] [--threads N]')
USAGE = ('%(prog)s ' + OPTIONS + ' INPUT [OUTPUT|DIR/]\n'
         '       %(prog)s ' + OPTIONS + ' -o DIR INPUT...\n'
         '       %(prog)s --info INPUT...\n'
         '       %(prog)s --version')


def write_all(fd, text):
    data = encoded(text)
    while data:
        data = data[os.write(fd, data):]


def write_error(text):
    """Writes on standard error; a closed or broken stream loses the text, nothing else."""
    try:
        write_all(2, text)
    except EnvironmentError:
        pass


def closed_message(fd):
    return '%s is closed' % STREAM_NAMES[fd]


def write_standard_output(text):
    """Writes text on standard output; raises ConversionError naming `-`
    when it is closed or refuses the text."""
    try:
        if 1 in closed_streams:
            raise OSError(errno.EBADF, closed_message(1))
        write_all(1, text)
    except EnvironmentError as e:
        raise ConversionError(STANDARD_STREAM, closed_message(1) if e.errno == errno.EBADF else e.strerror, e.errno)


def say(line):
    write_error(line + '\n')


def file_identity(path):
    try:
        found = os.stat(path)
    except EnvironmentError:
        return None
    return found.st_dev, found.st_ino


def refuse_inputs_as_outputs(sources, targets):
    """The error line for the first output that is one of the batch's inputs,
    by path or as the same file; None when there is none."""
    by_path = dict((os.path.realpath(source), source) for source in sources)
    by_identity = dict((file_identity(source), source) for source in sources)
    by_identity.pop(None, None)
    for target in targets:
        source = by_path.get(os.path.realpath(target)) or by_identity.get(file_identity(target))
        if source is not None:
            return '%s: is the input %s; nothing was converted' % (escape(target), escape(source))
    return None


def make_folder(path):
    """Makes the folder, with its parents, where it is missing; returns the
    system's reason when it cannot, else None."""
    try:
        os.makedirs(path)
    except EnvironmentError as e:
        if os.path.isdir(path):
            return None  # there already, or made meanwhile by another
        # Something else in its place: the system says it exists.
        return os.strerror(errno.ENOTDIR if e.errno == errno.EEXIST else e.errno)
    return None


def batch_outputs(parser, args, sources, folder):
    """(jobs, errors) of a batch: (source, target, level, layer) for each of
    the inputs `sources`, each file below an input folder written at the
    same path below `folder` (None: beside each input), and the error lines
    of what could not be listed or read."""
    pairs, errors, seen = [], [], {}
    for given in sources:
        if given == STANDARD_STREAM:
            parser.error('- (standard input) has no name to convert to in a batch; give INPUT and OUTPUT')
        suffix = TARGET_TYPES[args.format or 'png']
        if os.path.isdir(given):
            found, refused = files_in_tree(given, is_input_name)
            errors += [str(error) for error in refused]
            pairs += [(source, beside(source, suffix) if folder is None else mirrored(folder, given, source, suffix))
                      for source in found]
        else:
            pairs.append((given, beside(given, suffix) if folder is None else in_folder(folder, given, suffix)))
    jobs = []
    for source, target in pairs:
        if target in seen:
            parser.error('%s and %s would both be written to %s' % (escape(seen[target]), escape(source),
                                                                   escape(target)))
        seen[target] = source
        outputs, error = outputs_for(source, target, args.level, args.layer)
        if error:
            errors.append(str(error))
        jobs += [(source, name, level, layer) for name, level, layer in outputs]
    return jobs, errors


def outputs_for(source, target, level, layer):
    """([(target, level, layer)...], None) for one input, or ([], its
    ConversionError) where the header must be read to name them and cannot."""
    if level != ALL and layer != ALL and layer not in FACE_NAMES:
        return [(target, level, layer)], None
    try:
        return outputs_of(info(source), target, level, layer), None
    except ConversionError as e:
        return [], ConversionError(source, e.reason, e.errno)


def run_batch(parser, args, sources, folder):
    """Converts every input into `folder` (made, with its parents, when
    missing; None: beside each input), once the batch has been found one
    that can run."""
    jobs, errors = batch_outputs(parser, args, sources, folder)
    clash = refuse_inputs_as_outputs([job[0] for job in jobs], [job[1] for job in jobs])
    if clash:
        say('dds2png: ' + clash)
        return 2
    # DIR first, so that a file in its place is named as given; then the tree below it.
    for made in ([folder] if folder else []) + sorted(set(os.path.dirname(job[1]) for job in jobs)):
        refused = make_folder(made) if made else None
        if refused:
            say('dds2png: %s: %s' % (escape(made), refused))
            return 2
    for error in errors:
        say('dds2png: ' + error)
    failed = len(errors)
    if not jobs:
        say('dds2png: %d converted, %d failed' % (0, failed))
        return 1 if failed else 0
    # The cores are shared: a compressing thread for each worker, and more
    # only when there are fewer files than cores.
    cores = usable_cores()
    workers = min(len(jobs), cores)
    threads = max(1, cores // workers) if args.threads is None else args.threads
    jobs = [job + (args.compression, threads, args.opaque, args.rule, args.normal_map, args.depth,
                   args.format or 'png') for job in jobs]
    progress = os.isatty(2)
    results = run_jobs(jobs, workers)
    try:
        for done, error in enumerate(results, 1):
            if progress:
                write_error('\r\033[K')
            if error:
                failed += 1
                say('dds2png: ' + error)
            if progress:
                write_error('dds2png: %d of %d' % (done, len(jobs)))
    finally:
        results.close()  # ends the workers if the loop ended early
        if progress:
            write_error('\r\033[K')
    say('dds2png: %d converted, %d failed' % (len(jobs) + len(errors) - failed, failed))
    return 1 if failed else 0


def info_line(path):
    """One line of --info: the header's facts, or the error."""
    facts = info(path)
    size = '%dx%d' % (facts.width, facts.height)
    layers = facts.layers[0]
    if facts.kind == 'volume':
        shape = 'volume %sx%d' % (size, layers)
    elif facts.kind == 'cube':
        shape = 'cube map %s, %d faces' % (size, layers)
    elif facts.kind == 'array':
        shape = 'array of %d %s' % (layers, size)
    else:
        shape = '2D %s' % size
    notes = []
    if facts.high_range:
        notes.append('HDR (more than 8 bits a channel, or floats)')
    if facts.signed:
        notes.append('signed')
    if not facts.decoded:
        notes.append('not converted (%s)' % facts.refusal.split('; ')[-1])
    if facts.premultiplied:
        notes.append('colours premultiplied by alpha (converted to straight alpha)')
    notes += facts.mended
    if facts.opaque_alpha:
        notes.append('alpha declared opaque')
    if facts.data_bytes_at_least:
        notes.append('surface data: at least %d bytes of %d (a stream is counted no further)'
                     % (facts.data_bytes, facts.expected_bytes))
    if facts.truncated:
        notes.append('truncated surface data: %d bytes of %d' % (facts.data_bytes, facts.expected_bytes))
    levels = '%d mip level%s' % (facts.levels, '' if facts.levels == 1 else 's')
    return '%s: %s\n' % (path_text(path), ', '.join([shape, levels, facts.format] + notes))


def run_info(args):
    failed = 0
    for path in args.paths:
        try:
            if path == STANDARD_STREAM and 0 in closed_streams:
                raise ConversionError(path, closed_message(0))
            write_standard_output(info_line(path))
        except ConversionError as e:
            if e.path == STANDARD_STREAM and e.errno == errno.EPIPE:
                return SIGNAL_STATUS + signal.SIGPIPE  # nothing reads the lines any more, as for cat
            failed += 1
            say('dds2png: %s' % e)
            if e.path == STANDARD_STREAM and e.errno is not None:
                return 2  # standard output failed: no line can be written
    return 1 if failed else 0


def convert_one(args, source, target, level, layer):
    """One conversion: its ConversionError, or None."""
    if source == STANDARD_STREAM and 0 in closed_streams:
        return ConversionError(STANDARD_STREAM, closed_message(0))
    format = args.format or ('png' if target == STANDARD_STREAM else target_type(target))
    job = (source, target, level, layer, args.compression, args.threads, args.opaque, args.rule,
           args.normal_map, args.depth, format)
    if target != STANDARD_STREAM:
        return conversion_error(job)
    if 1 not in closed_streams and os.isatty(1):  # as compressors do: binary on a screen helps no one
        return ConversionError(STANDARD_STREAM, 'standard output is a terminal: not writing an image there '
                                                '(redirect it, or name a file)')
    # Standard output as the descriptor itself, a raw file under Python 2 and
    # 3 alike: a closed one is refused by name, one that would block is
    # waited on, and nothing is left for the interpreter to flush at exit.
    try:
        if 1 in closed_streams:
            raise OSError(errno.EBADF, closed_message(1))
        out = io.open(os.dup(1), 'wb', buffering=0)
    except EnvironmentError:
        return ConversionError(STANDARD_STREAM, closed_message(1))
    with out:
        def output(identity, write):
            write_to_file(STANDARD_STREAM, out, identity, write)
        return conversion_error(job, output)


def convert_given(parser, args, source, target):
    """INPUT and OUTPUT: one conversion, or one for each level or layer
    (`all`), in order, stopping at the first that fails; its
    ConversionError, or None."""
    if (args.level == ALL or args.layer == ALL) and target == STANDARD_STREAM:
        parser.error('--level all and --layer all write a file for each: give OUTPUT by name')
    if (args.level == ALL or args.layer in FACE_NAMES + [ALL]) and source == STANDARD_STREAM:
        parser.error("--level all, --layer all and a face's name read the header first: give INPUT by name")
    outputs, error = outputs_for(source, target, args.level, args.layer)
    if error:
        return error
    for name, level, layer in outputs:
        error = convert_one(args, source, name, level, layer)
        if error:
            return error
    return None


class Version(argparse.Action):
    """--version: prints the package's version and the decoder this machine runs on standard output."""

    def __init__(self, option_strings, dest, **kwargs):
        argparse.Action.__init__(self, option_strings, dest, nargs=0,
                                 help='print the version and the decoder this machine runs, and exit')

    def __call__(self, parser, namespace, values, option_string=None):
        write_standard_output('dds2png %s (decoder: %s)\n' % (package_version(), decoder_description()))
        parser.exit(0)


class Parser(argparse.ArgumentParser):
    """argparse's parser, writing through the descriptors: its own writes
    end in a traceback (Python 2), or in the wrong stream (Python 3), when
    standard output or standard error is closed or full."""

    def print_help(self, file=None):
        write_standard_output(self.format_help())

    def error(self, message):
        """A usage error: status 2, whether or not standard error takes the usage."""
        write_error('%s%s: error: %s\n' % (self.format_usage(), self.prog, message))
        self.exit(2)


def level_argument(text):
    """--level: a number, or `all`."""
    if text == ALL:
        return ALL
    try:
        return int(text)
    except ValueError:
        raise argparse.ArgumentTypeError("a level is a number or 'all', not %r" % text)


def layer_argument(text):
    """--layer: a number, a cube map's face (+X ... -Z), or `all`."""
    if text == ALL or text in FACE_NAMES:
        return text
    try:
        return int(text)
    except ValueError:
        raise argparse.ArgumentTypeError("a layer is a number, a cube face (%s) or 'all', not %r"
                                         % (' '.join(FACE_NAMES), text))


def parser():
    parser = Parser(prog='dds2png', description='Converts DDS textures of any layout but video (YUV) ones (BC1 to BC7, '
                    'uncompressed, packed, float and palette) to PNG files (8-bit, or 16-bit for formats of '
                    'more than 8 bits a channel) or OpenEXR files: RGB or, where the texture has alpha below '
                    'full, RGBA; greyscale for one channel.',
                    usage=USAGE)
    parser.add_argument('paths', nargs='*', metavar='INPUT',
                        help='the DDS file to read, or a folder to search for .dds files, then OUTPUT, the PNG '
                             'to write (- for standard input or output), or a folder (DIR/) to write '
                             '<name>.png into; without OUTPUT, beside the input; with -o or --info, every INPUT')
    parser.add_argument('-o', '--output-dir', metavar='DIR',
                        help="write DIR/<name>.png for every input; a folder's files at their paths below it")
    parser.add_argument('--info', action='store_true',
                        help="print what each input's header says, one line a file: size, mip levels, layers, "
                             "format (and whether it converts) and whether the file holds every level")
    parser.add_argument('--level', type=level_argument, metavar='N',
                        help="the mip level to convert (0, the default, is the full size), or 'all': a PNG "
                             'for each, OUTPUT-level<N>.png')
    parser.add_argument('--layer', type=layer_argument, metavar='K',
                        help='convert this layer alone (cube face, array element or volume slice), '
                             "rather than all of them stacked; a cube map's face by name (+X, --layer=-X ...); "
                             "or 'all': a PNG for each, OUTPUT-layer<K>.png")
    parser.add_argument('--opaque', action='store_true',
                        help='write RGB, transparent pixels black, even where the texture has transparency')
    parser.add_argument('--rule', choices=RULES,
                        help="the colour rule: 'design' (the default, the decoders' own) or 'gpu' (colours as "
                             'graphics hardware shows them: endpoints widened to full range, palettes rounded)')
    parser.add_argument('--normal-map', action='store_true',
                        help="BC5: make blue the z of the unit normal that red and green give, not zero (0; signed 128) "
                             '(other formats ignore it)')
    parser.add_argument('--depth', type=int, choices=sorted(PNG_DEPTHS),
                        help="a PNG's bits a sample: 16 by default for formats of more than 8 bits a channel or "
                             'of floats (BC6H), else 8; values are linear, clamped to 0..1, not tone-mapped')
    parser.add_argument('--format', choices=list(TARGET_TYPES),
                        help='write PNG or OpenEXR (half floats, unclamped) files; by default as OUTPUT ends '
                             '(.exr), else PNG; -o DIR writes DIR/<name>.exr with exr')
    parser.add_argument('--compression', type=int, metavar='N',
                        help='the zlib level, from %d (none, fastest) to %d (smallest); by default %d for PNG, '
                             '%d for OpenEXR' % (LEVELS[0], LEVELS[-1], PNG_COMPRESSION, EXR_COMPRESSION))
    parser.add_argument('--threads', type=int, metavar='N',
                        help='compress a large image with at most N threads (by default as many as the '
                             'process may use cores, shared among the files of a batch)')
    parser.add_argument('--version', action=Version)
    return parser


def guard_standard_streams():
    """Puts /dev/null, read-only, in place of each closed standard stream, so
    that no file opened later takes its number and writes to it fail;
    returns the descriptors it filled."""
    guarded = []
    for fd in (0, 1, 2):
        try:
            os.fstat(fd)
        except EnvironmentError:
            closed_streams.add(fd)
            guarded.append(os.open(os.devnull, os.O_RDONLY))  # the lowest free number: fd
    return guarded


def main(argv=None, exiting=False):
    """Runs the command with the arguments (default sys.argv[1:]); returns
    its exit status: 0, 1 when some of a batch or of --info failed, 2 on an
    error, 128 + the signal's number when a stop signal ended it. Whatever
    it set in the process is restored before it returns; but `exiting` (the
    program, whose process ends with the command) leaves the stop signals
    to a handler that does nothing, so that one that comes as the process
    exits changes nothing, where it would end it in a traceback (Ctrl-C) or
    without a word."""
    guarded, previous, status = [], {}, None
    try:
        guarded = guard_standard_streams()
        handle_stop_signals(interrupt, previous)
        status = run(argv, previous)
    except KeyboardInterrupt as e:  # before run() took it, or as it returned
        status = interrupted(e, previous)
    finally:
        after = dict.fromkeys(previous, ignore_signal) if exiting else previous
        if restore_signals(after) and status == 0:
            # A stop signal came as it finished: not a clean end.
            say('dds2png: interrupted')
            status = INTERRUPTED_STATUS
        for fd in guarded:
            os.close(fd)
        closed_streams.clear()
    return status


def interrupted(e, previous):
    """Ends the command on a stop signal: its temporary outputs removed, one
    line, 128 + the signal. Any more stop signals are ignored meanwhile;
    `previous` keeps the handlers main() restores."""
    handle_stop_signals(ignore_signal, previous)
    remove_unfinished()
    say('dds2png: interrupted')
    return SIGNAL_STATUS + getattr(e, 'signum', signal.SIGINT)


def run(argv, previous):
    command = parser()
    try:
        args = command.parse_args(argv)
        if not args.paths:  # checked here, so that an unknown option is named before a missing INPUT
            command.error('give INPUT (and OUTPUT), or -o DIR and the inputs')
        converting = [option for option, value in [('--level', args.level), ('--layer', args.layer),
                                                   ('--opaque', args.opaque or None), ('--rule', args.rule),
                                                   ('--normal-map', args.normal_map or None),
                                                   ('--depth', args.depth), ('--format', args.format),
                                                   ('--compression', args.compression), ('--threads', args.threads)]
                      if value is not None]
        if args.info and converting:
            command.error('--info reads headers alone: %s is for converting' % converting[0])
        args.level = 0 if args.level is None else args.level
        args.rule = 'design' if args.rule is None else args.rule
        if any(isinstance(value, int) and value < 0 for value in (args.level, args.layer)):
            command.error('--level and --layer count from 0')
        if args.compression is not None and args.compression not in LEVELS:
            command.error('--compression is a zlib level, from %d to %d' % (LEVELS[0], LEVELS[-1]))
        if args.threads is not None and args.threads < 1:
            command.error('--threads is at least 1')
        if args.depth is not None and (args.format or (target_type(args.paths[-1]) if len(args.paths) == 2
                                                       and args.output_dir is None else 'png')) == 'exr':
            command.error('--depth is for PNG files; an OpenEXR file holds floats')
        if args.info:
            if args.output_dir is not None:
                command.error('--info reads the inputs alone: give no -o')
            return run_info(args)
        if args.output_dir is not None:
            return run_batch(command, args, args.paths, args.output_dir)
        if len(args.paths) > 2:
            command.error('give INPUT and OUTPUT, or -o DIR and the inputs')
        source, target = (args.paths + [None])[:2]
        if source != STANDARD_STREAM and target in (None, STANDARD_STREAM) and os.path.isdir(source):
            if target == STANDARD_STREAM:
                command.error('%s is a folder: give -o DIR, or no OUTPUT to write beside each file' % source)
            return run_batch(command, args, [source], None)  # a folder: each PNG beside its input
        if target is None:
            if source == STANDARD_STREAM:
                command.error('- (standard input) has no name to convert to; give INPUT and OUTPUT')
            target = beside(source, TARGET_TYPES[args.format or 'png'])
        elif target != STANDARD_STREAM and names_folder(target):
            if source == STANDARD_STREAM:
                command.error('- (standard input) has no name to convert to in a folder; give INPUT and OUTPUT')
            if os.path.isdir(source):
                return run_batch(command, args, [source], target)
            refused = make_folder(target)  # as -o makes DIR
            if refused:
                say('dds2png: %s: %s' % (escape(target), refused))
                return 2
            target = in_folder(target, source, TARGET_TYPES[args.format or 'png'])
        error = convert_given(command, args, source, target)
    except SystemExit as e:  # --version, --help or a usage error: a status to return, not to raise
        return e.code if isinstance(e.code, int) else 0 if e.code is None else 2
    except ConversionError as e:  # --version or --help, on a closed or full standard output
        error = e
    except KeyboardInterrupt as e:
        return interrupted(e, previous)
    if error and error.path == STANDARD_STREAM and error.errno == errno.EPIPE:
        # What reads standard output stopped reading (`| head`): end quietly,
        # with the status of a command the pipe's signal ends, as cat does.
        return SIGNAL_STATUS + signal.SIGPIPE
    if error:
        say('dds2png: %s' % error)
        return 2
    return 0


__all__ = ['main', 'INTERRUPTED_STATUS']
