#!/bin/sh
# Exits 0 when clang can cross-build a 64-bit ARM C++ program against
# Debian's arm64 cross libraries and qemu-aarch64 can run it.
set -e
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf '#include <vector>\nint main() { std::vector<int> v(1); return v[0]; }\n' > "$dir/probe.cpp"
clang++ --target=aarch64-linux-gnu -o "$dir/probe" "$dir/probe.cpp" >/dev/null 2>&1
qemu-aarch64 -L /usr/aarch64-linux-gnu "$dir/probe"
