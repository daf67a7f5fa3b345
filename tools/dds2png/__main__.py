"""The dds2png command as a program: `python -m dds2png` runs this file, and
the `dds2png` that each install puts on PATH, and the build's, is a copy of
it. A Ctrl-C that comes while the command's modules import ends the command
as one that comes later does (`dds2png: interrupted`, status 130), rather
than in a traceback; run as a copy, the whole package's import is covered
(with `-m` the interpreter imports the package before this file runs).
A stop signal that comes once the command has ended changes nothing."""
import signal
import sys


def run():
    try:
        from dds2png.command import main
    except KeyboardInterrupt:
        # Before the command could take it: finish the import with Ctrl-C
        # ignored, then end as the command ends on one.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        from dds2png.command import interrupted
        return interrupted(KeyboardInterrupt(), {})
    return main(exiting=True)


if __name__ == '__main__':
    sys.exit(run())
