#!/bin/bash
# One frame in a real 640x480x32 window, the same with a marked block (only the
# block's patch changes), and one in a window scaled to fit the 1280x1024
# screen, on a private virtual X server, read back from the server and checked
# (the WindowPixels unit tests, which skip themselves without a display).
# Usage: window_pixels.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
source "$SRC/tests/scripts/editor_run.bash"
bound 120
TESTS="$BUILD/vorna_tests"
[ -x "$TESTS" ] || fail "no test binary at $TESTS"

startX 1280x1024
set +e
out=$(VORNA_XVFB_DISPLAY="$DISPLAY" "$TESTS" --gtest_filter="WindowPixels.*:ScaledWindowPixels.*" 2>&1)
status=$?
set -e
echo "$out"
[ "$status" = 0 ] || fail "window pixel tests failed ($status)"
# A skipped run proves nothing: the display must have reached the tests.
if grep -q "SKIPPED" <<< "$out"; then fail "window pixel tests were skipped"; fi
grep -q "PASSED  \] 4 tests" <<< "$out" || fail "expected 4 window pixel tests to pass"
echo "window pixels: ok"
