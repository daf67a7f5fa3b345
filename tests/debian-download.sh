#!/bin/sh
# Downloads Debian packages of another architecture or release, for the test
# trees that run a real interpreter of another platform:
#   debian-download.sh ARCH SUITE WORK FOLDER=PACKAGES...
# fetches each group of PACKAGES (separated by spaces) into its FOLDER, with a
# private apt configuration in WORK, so that the machine's own apt state is
# left untouched. The mirror is the first non-security one this machine's own
# Debian apt sources name; the packages are checked against the Debian
# archive keyring. On failure it says why on standard error and exits 1.
set -eu

arch=$1 suite=$2 work=$3
shift 3

fail() {
    echo "debian-download.sh: $*" >&2
    exit 1
}

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

mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
echo "deb [arch=$arch signed-by=$keyring] $mirror $suite main" > "$work/sources.list"
apt() {
    apt-get -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null \
        -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o Dir::State::status=/dev/null \
        -o APT::Architecture="$arch" -o APT::Architectures="$arch" -o Debug::NoLocking=1 -q "$@"
}
apt update >"$work/update.log" 2>&1 || fail "apt-get update failed (no network?): $(tail -n 3 "$work/update.log")"
for group in "$@"; do
    folder=${group%%=*}
    mkdir -p "$folder"
    # The package names are split at spaces on purpose.
    # shellcheck disable=SC2086
    (cd "$folder" && apt download ${group#*=}) >"$work/download.log" 2>&1 ||
        fail "apt-get download failed: $(tail -n 3 "$work/download.log")"
done
