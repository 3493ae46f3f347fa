#!/bin/bash
# CPU the editor takes while nobody types: the real program in a private Xvfb
# window, measured from /proc over SECONDS (default 20) of idle editing and
# again with the filename prompt open. Prints per cent of one core.
# Usage: bench/idle_cpu.sh BUILD_DIR [SECONDS]
set -euo pipefail
BIN=$(cd "$1" && pwd)/vornatracker
SECS=${2:-20}
WORK=$(mktemp -d /tmp/vorna-idle-XXXXXX)
XVFB_PID=
APP_PID=
cleanup() {
  [ -n "$APP_PID" ] && kill -KILL "$APP_PID" 2> /dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2> /dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/conf/audio" "$WORK/conf/video"
echo none > "$WORK/conf/audio/driver.conf"
echo 512 > "$WORK/conf/audio/dsound_buffersize.conf"
echo 0 > "$WORK/conf/video/sdl_fullscreen.conf"
echo 0 > "$WORK/conf/video/splashscreen.conf"

Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset 3> "$WORK/display" 2> "$WORK/xvfb.err" &
XVFB_PID=$!
for _ in $(seq 50); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n 1 "$WORK/display")

cd "$WORK"
"$BIN" > out.txt 2> err.txt &
APP_PID=$!
WIN=
for _ in $(seq 100); do
  WIN=$(xdotool search --name "VornaTracker pre8" 2> /dev/null | head -n 1) && [ -n "$WIN" ] && break
  sleep 0.1
done
[ -n "$WIN" ] || { echo "no window"; exit 1; }
xdotool windowfocus --sync "$WIN"

# utime + stime of the process in clock ticks
cpuTicks() { awk '{print $14 + $15}' "/proc/$APP_PID/stat"; }
measure() {  # measure LABEL
  local t0 t1 hz
  hz=$(getconf CLK_TCK)
  t0=$(cpuTicks)
  sleep "$SECS"
  t1=$(cpuTicks)
  awk -v d=$((t1 - t0)) -v hz="$hz" -v s="$SECS" -v l="$1" \
    'BEGIN { printf "%s: %.2f %% of a core (%d ticks in %d s)\n", l, 100 * d / hz / s, d, s }'
}

sleep 3  # past the start-up fade
measure "idle editor"
xdotool key --window "$WIN" F11  # the save prompt
sleep 1
measure "filename prompt open"
xdotool key --window "$WIN" Escape
sleep 0.5
xdotool key --window "$WIN" F12
for _ in $(seq 50); do kill -0 $APP_PID 2> /dev/null || break; sleep 0.1; done
