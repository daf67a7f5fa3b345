"""python -m dds2png: the command."""
import sys

from dds2png.command import main

if __name__ == '__main__':
    sys.exit(main())
