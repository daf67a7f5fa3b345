#!/bin/sh
# Prints one line of totals over the test trees' CTest results and exits
# non-zero when any test failed or any tree did not run:
#   summarize.sh RESULTS TREE...
# RESULTS holds TREE.xml (CTest's JUnit report) for each tree that ran, and a
# NAME.skipped file for each part that was skipped as a whole.
results=$1
shift
passed=0 failed=0 skipped=0
for tree in "$@"; do
    if [ -f "$results/$tree.xml" ]; then
        # <testsuite tests="N" failures="F" disabled="D" skipped="S" ...>, over several lines
        suite=$(sed -n '/<testsuite/,/>/p' "$results/$tree.xml" | tr '\n\t' '  ')
        count() { echo "$suite" | sed -n "s/.* $1=\"\([0-9]*\)\".*/\1/p"; }
        tests=$(count tests) fails=$(count failures) skips=$(count skipped)
        passed=$((passed + tests - fails - skips)) failed=$((failed + fails)) skipped=$((skipped + skips))
    elif [ ! -f "$results/$tree.skipped" ]; then
        echo "the $tree tree did not build or run"
        failed=$((failed + 1))
    fi
done
for part in "$results"/*.skipped; do
    [ -f "$part" ] && skipped=$((skipped + 1))
done
line="$passed passed, $failed failed"
[ "$skipped" -eq 0 ] || line="$line, $skipped skipped"
echo "$line"
[ "$failed" -eq 0 ]
