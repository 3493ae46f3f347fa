#!/bin/bash
# Takes a screenshot of the editor with a few notes typed in, through the
# script tests' harness: the editor in a private Xvfb, keys from xdotool,
# the screen turned into a PNG.
# Usage: tools/screenshot.sh [BUILD_DIR] [OUT.png]   (defaults: build docs/screenshot.png)
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$SRC/build}" && pwd)
OUT=$(realpath -m "${2:-$SRC/docs/screenshot.png}")
mkdir -p "$(dirname "$OUT")"

source "$SRC/tests/scripts/editor_run.bash"
bound 60

startX
DIR=$(newFolder run none)
startApp "$DIR"
xdotool mousemove 639 479  # keep the pointer off the picture

keys q Down w Down e Down r Down t Down y Down u Down i   # a scale on channel 0, every other row
keys Prior Right 4 Down 3 Down 2 Down 1                       # falling volumes on its first notes
keys Tab Prior F5 z Down Down Down z Down Down Down v Down Down Down z  # a bass line on channel 1
keys Tab Prior F6 F6 z Down z Down z Down z                   # channel 2, two octaves up
keys F4 F4                                                        # speed 5
sleep 2                                                           # the start-up fade is over
screenshot "$OUT"
keys F12
waitExit 10
echo "screenshot written to $OUT"
