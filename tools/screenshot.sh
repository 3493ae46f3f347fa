#!/bin/bash
# Takes a screenshot of the editor with a few notes typed in: the editor runs
# in a private Xvfb (whose screen is kept as an XWD file with -fbdir), keys
# come from xdotool, and tools/xwd_png.py turns the screen into a PNG.
# Usage: tools/screenshot.sh [BUILD_DIR] [OUT.png]   (defaults: build docs/screenshot.png)
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$SRC/build}" && pwd)
OUT=$(realpath -m "${2:-$SRC/docs/screenshot.png}")
mkdir -p "$(dirname "$OUT")"

WORK=$(mktemp -d /tmp/vorna-shot-XXXXXX)
XVFB_PID=
APP_PID=
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2> /dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2> /dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/fb" "$WORK/run/conf/audio" "$WORK/run/conf/video"
echo none > "$WORK/run/conf/audio/driver.conf"
echo 0 > "$WORK/run/conf/video/sdl_fullscreen.conf"
echo 0 > "$WORK/run/conf/video/splashscreen.conf"

Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset -fbdir "$WORK/fb" 3> "$WORK/display" 2> /dev/null &
XVFB_PID=$!
for _ in $(seq 50); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n 1 "$WORK/display")

cd "$WORK/run"
"$BUILD/vornatracker" > /dev/null 2>&1 &
APP_PID=$!
WIN=
for _ in $(seq 100); do
  WIN=$(xdotool search --name "VornaTracker pre8" 2> /dev/null | head -n 1) && [ -n "$WIN" ] && break
  sleep 0.1
done
[ -n "$WIN" ] || { echo "the editor's window did not open"; exit 1; }
xdotool windowfocus --sync "$WIN"
xdotool mousemove 639 479  # keep the pointer off the picture

keys() {
  for k in "$@"; do xdotool keydown "$k"; sleep 0.06; xdotool keyup "$k"; sleep 0.04; done
}
keys q Down w Down e Down r Down t Down y Down u Down i   # a scale on channel 0, every other row
keys Prior Right 4 Down 3 Down 2 Down 1                       # falling volumes on its first notes
keys Tab Prior F5 z Down Down Down z Down Down Down v Down Down Down z  # a bass line on channel 1
keys Tab Prior F6 F6 z Down z Down z Down z                   # channel 2, two octaves up
keys F4 F4                                                        # speed 5
sleep 2                                                           # the start-up fade is over
python3 "$SRC/tools/xwd_png.py" "$WORK/fb/Xvfb_screen0" "$OUT"
xdotool key F12
echo "screenshot written to $OUT"
