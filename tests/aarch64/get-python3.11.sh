#!/bin/sh
# Fetches a real 64-bit ARM Python 3.11 for the aarch64 test tree:
#   get-python3.11.sh DEST
# downloads Debian 12's arm64 packages of Python 3.11 (with its headers, the
# libraries its standard modules need, and pip and setuptools for the install
# routes' tests) with a private apt configuration, so
# that the machine's own apt state is left untouched, and unpacks them into
# DEST/root. It writes DEST/python3.11, which runs that interpreter under
# qemu-aarch64 with DEST/root as the arm64 system root, and which is itself
# the interpreter's sys.executable, so that the programs the interpreter
# starts run under qemu too. Its sysconfig names the headers in DEST/root.
# Running it again once DEST/python3.11 works does nothing.
#
# The mirror is the one this machine's own Debian apt sources name; the
# packages are checked against the Debian archive keyring.
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

# The first non-security Debian mirror of this machine's apt sources.
mirror=
if [ -r /etc/apt/sources.list.d/debian.sources ]; then
    mirror=$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }' \
        /etc/apt/sources.list.d/debian.sources)
fi
if [ -z "$mirror" ] && [ -r /etc/apt/sources.list ]; then
    mirror=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { if ($i !~ /security/) { print $i; exit } break } }' \
        /etc/apt/sources.list)
fi
[ -n "$mirror" ] || fail "no Debian mirror found in /etc/apt/sources.list.d/debian.sources or /etc/apt/sources.list"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
[ -r "$keyring" ] || fail "$keyring is missing (Debian's debian-archive-keyring package)"

apt="$dest/apt"
rm -rf "$apt"
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
echo "deb [arch=arm64 signed-by=$keyring] $mirror bookworm main" > "$apt/sources.list"
set -- -o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null \
    -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o Dir::State::status=/dev/null \
    -o APT::Architecture=arm64 -o APT::Architectures=arm64 -o Debug::NoLocking=1
apt-get "$@" -q update >"$apt/update.log" 2>&1 || fail "apt-get update failed (no network?): $(tail -n 3 "$apt/update.log")"
# The interpreter and its headers, what it and its standard modules link to,
# and Debian's pip and setuptools with what they import.
packages="python3.11-minimal libpython3.11-minimal libpython3.11-stdlib libpython3.11-dev
          libc6 zlib1g libexpat1 libffi8 libbz2-1.0 liblzma5 libssl3 libuuid1 libcrypt1 libgcc-s1 libstdc++6
          python3-pip python3-setuptools python3-wheel python3-pkg-resources python3-distutils python3-lib2to3"
(mkdir "$apt/debs" && cd "$apt/debs" && apt-get "$@" -q download $packages) >"$apt/download.log" 2>&1 ||
    fail "apt-get download failed: $(tail -n 3 "$apt/download.log")"

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
