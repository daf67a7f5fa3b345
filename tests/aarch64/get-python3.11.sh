#!/bin/sh
# Fetches a real 64-bit ARM Python 3.11 for the aarch64 test tree:
#   get-python3.11.sh DEST
# downloads Debian 12's arm64 packages of Python 3.11 (with its headers, the
# libraries its standard modules need, and pip and setuptools for the install
# routes' tests) with ../debian-download.sh, which leaves the machine's own
# apt state untouched, and unpacks them into
# DEST/root. It writes DEST/python3.11, which runs that interpreter under
# qemu-aarch64 with DEST/root as the arm64 system root, and which is itself
# the interpreter's sys.executable, so that the programs the interpreter
# starts run under qemu too. Its sysconfig names the headers in DEST/root.
# Running it again once DEST/python3.11 works does nothing.
set -eu

dest=${1:?usage: get-python3.11.sh DEST}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
# What the tests need of the interpreter.
works='import ctypes, platform, setuptools, struct, sysconfig, threading, zlib
import pip  # after setuptools, which must replace distutils before pip imports it
assert platform.machine() == "aarch64" and struct.calcsize("P") == 8'
if [ -x "$dest/python3.11" ] && "$dest/python3.11" -c "$works" 2>/dev/null; then
    exit 0
fi

fail() {
    echo "get-python3.11.sh: $*" >&2
    exit 1
}

qemu=$(command -v qemu-aarch64) || fail "qemu-aarch64 is missing (Debian's qemu-user package)"

# The interpreter and its headers, what it and its standard modules link to,
# and Debian's pip and setuptools with what they import.
apt="$dest/apt"
rm -rf "$apt"
"$(dirname "$0")/../debian-download.sh" arm64 bookworm "$apt" "$apt/debs=python3.11-minimal libpython3.11-minimal
    libpython3.11-stdlib libpython3.11-dev libc6 zlib1g libexpat1 libffi8 libbz2-1.0 liblzma5 libssl3 libuuid1
    libcrypt1 libgcc-s1 libstdc++6 python3-pip python3-setuptools python3-wheel python3-pkg-resources
    python3-distutils python3-lib2to3" || fail "could not download the interpreter's packages (see above)"

root="$dest/root"
rm -rf "$root"
for deb in "$apt"/debs/*.deb; do dpkg-deb -x "$deb" "$root"; done
rm -rf "$apt"

# qemu-aarch64 -L makes the guest look for every absolute path under the root
# first (the loader, the C library); -0 gives the interpreter this script as
# its own path, and PYTHONHOME its prefix, which the script's folder is not.
# A library to preload into the interpreter goes in QEMU_SET_ENV
# (LD_PRELOAD=...), which qemu sets for the guest alone; LD_PRELOAD itself
# would be given to qemu as well.
cat > "$dest/python3.11" <<LAUNCHER
#!/bin/sh
# Runs Debian 12's arm64 Python 3.11 in $root under qemu.
exec '$qemu' -L '$root' -0 "\$0" -E PYTHONHOME='$root/usr' '$root/usr/bin/python3.11' "\$@"
LAUNCHER
chmod +x "$dest/python3.11"
"$dest/python3.11" -c "$works" || fail "the unpacked interpreter does not run"
[ -r "$root/usr/include/python3.11/Python.h" ] || fail "the unpacked interpreter has no headers"
