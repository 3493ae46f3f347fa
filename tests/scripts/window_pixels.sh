#!/bin/bash
# One frame in a real 640x480x32 window, and one in a window scaled to fit the
# 1280x1024 screen, on a private virtual X server, read back from the server
# and checked (the WindowPixels unit tests, which skip themselves without a
# display).
# Usage: window_pixels.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$1
TESTS="$BUILD/vorna_tests"
[ -x "$TESTS" ] || { echo "no test binary at $TESTS"; exit 1; }
command -v xvfb-run > /dev/null || { echo "xvfb-run is not installed"; exit 1; }

set +e
out=$(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" \
  bash -c 'VORNA_XVFB_DISPLAY="$DISPLAY" exec "$0" --gtest_filter="WindowPixels.*:ScaledWindowPixels.*"' "$TESTS" 2>&1)
status=$?
set -e
echo "$out"
[ "$status" = 0 ] || { echo "window pixel tests failed ($status)"; exit 1; }
# A skipped run proves nothing: the display must have reached the tests.
if grep -q "SKIPPED" <<< "$out"; then echo "window pixel tests were skipped"; exit 1; fi
grep -q "PASSED  \] 3 tests" <<< "$out" || { echo "expected 3 window pixel tests to pass"; exit 1; }
echo "window pixels: ok"
