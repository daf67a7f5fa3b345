#!/bin/sh
# Fetches a real 32-bit x86 Python 2.7 for the 32-bit test tree:
#   get-python2.7.sh DEST
# downloads Debian 11's i386 packages of Python 2.7.18 (and the libraries its
# standard modules need) with ../debian-download.sh, which leaves the
# machine's own apt state untouched, and unpacks them into DEST/root.
# It writes:
#   DEST/python2.7           a 32-bit program that runs that interpreter on the
#                            i386 C library g++-multilib brings;
#   DEST/valgrind-arguments  what valgrind runs it with, one argument a line:
#                            the interpreter on Debian 11's own i386 C library
#                            (DEST/libc), whose debug information valgrind
#                            needs, and the suppressions that build needs.
# Running it again once DEST/python2.7 works does nothing.
set -eu

dest=${1:?usage: get-python2.7.sh DEST}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
if [ -x "$dest/python2.7" ] && "$dest/python2.7" -c 'import sys; sys.exit(sys.maxsize != 2**31 - 1)' 2>/dev/null; then
    exit 0
fi

fail() {
    echo "get-python2.7.sh: $*" >&2
    exit 1
}

apt="$dest/apt"
rm -rf "$apt"
"$(dirname "$0")/../debian-download.sh" i386 bullseye "$apt" \
    "$apt/python=python2.7-minimal libpython2.7-minimal libpython2.7-stdlib libpython2.7 libpython2.7-dev
        zlib1g libffi7 libexpat1 libbz2-1.0" \
    "$apt/libc=libc6 libc6-dbg" || fail "could not download the interpreter's packages (see above)"

root="$dest/root" libc="$dest/libc"
rm -rf "$root" "$libc" "$dest/libc-debug"
for deb in "$apt"/python/*.deb; do dpkg-deb -x "$deb" "$root"; done
for deb in "$apt"/libc/*.deb; do dpkg-deb -x "$deb" "$libc"; done
rm -rf "$apt"
libs="$root/usr/lib/i386-linux-gnu:$root/lib/i386-linux-gnu"

# valgrind finds debug information by build ID only under /usr/lib/debug; in
# any other folder it follows each library's debug link, a file name it looks
# for under the folder and the library's own path.
for lib in "$libc"/lib/i386-linux-gnu/ld-*.so "$libc"/lib/i386-linux-gnu/libc-*.so; do
    id=$(readelf -n "$lib" | awk '/Build ID/ { print $3 }')
    mkdir -p "$dest/libc-debug$(dirname "$lib")"
    ln -sf "$libc/usr/lib/debug/.build-id/$(echo "$id" | cut -c1-2)/$(echo "$id" | cut -c3-).debug" \
        "$dest/libc-debug$(dirname "$lib")/"
done
loader=$(ls "$libc"/lib/i386-linux-gnu/ld-*.so)
supp="$(cd "$(dirname "$0")" && pwd)/debian-python2.7.supp"
printf '%s\n' "--extra-debuginfo-path=$dest/libc-debug" "--suppressions=$supp" "$loader" --library-path \
    "$libc/lib/i386-linux-gnu:$libs" "$root/usr/bin/python2.7" > "$dest/valgrind-arguments"

# A 32-bit program rather than a shell script, so that a 32-bit LD_PRELOAD
# given to it loads without complaint. The interpreter finds its own prefix
# from its path; its standard modules need the unpacked libraries.
cat > "$dest/python2.7.c" <<LAUNCHER
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
int main(int argc, char **argv)
{
    (void)argc;
    static const char libs[] = "$libs";
    const char *old = getenv("LD_LIBRARY_PATH");
    char *path = malloc(sizeof libs + (old ? strlen(old) + 1 : 0));
    strcpy(path, libs);
    if (old && *old) {
        strcat(path, ":");
        strcat(path, old);
    }
    setenv("LD_LIBRARY_PATH", path, 1);
    argv[0] = "$root/usr/bin/python2.7";
    execv(argv[0], argv);
    return 127;
}
LAUNCHER
${CC:-cc} -m32 -O2 -o "$dest/python2.7" "$dest/python2.7.c" ||
    fail "cannot build 32-bit programs (install g++-multilib)"
rm "$dest/python2.7.c"
"$dest/python2.7" -c 'import struct, zlib, ctypes, threading; assert struct.calcsize("P") == 4' ||
    fail "the unpacked interpreter does not run"
