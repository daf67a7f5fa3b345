#!/bin/sh
# Exits 0 when the C++ compiler can build and run a 32-bit x86 program.
set -e
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf '#include <vector>\nint main() { std::vector<int> v(1); return v[0]; }\n' > "$dir/probe.cpp"
${CXX:-c++} -m32 -o "$dir/probe" "$dir/probe.cpp" >/dev/null 2>&1
"$dir/probe"
