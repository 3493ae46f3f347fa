#!/bin/bash
# CPU the editor takes while nobody types: the real program in a private Xvfb
# window, measured from /proc over SECONDS (default 20) each: idle editing and
# the filename prompt open; with a sound driver also the stream running while
# the song is stopped (before anything played, and after a busy song played,
# its eight voices ringing on) and while the busy song plays. Prints per cent
# of one core. The sound servers are private ones (a PulseAudio null sink, a
# JACK dummy driver at 128 frames), as the script tests use.
# Usage: bench/idle_cpu.sh BUILD_DIR [SECONDS] [none|pulse|jack]
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$(dirname "$0")/.." && pwd)
SECS=${2:-20}
DRIVER=${3:-none}
source "$SRC/tests/scripts/editor_run.bash"
bound $((SECS * 6 + 120))

startX
case $DRIVER in
  pulse) startPulse ;;
  jack) startJack 128 realtime ;;
  none) ;;
  *) echo "driver: none, pulse or jack"; exit 2 ;;
esac
dir=$(newFolder idle "$DRIVER")
[ "$DRIVER" = jack ] && echo 128 > "$dir/conf/audio/dsound_buffersize.conf"
# The busiest song the format holds: every channel, every second row.
(cd "$dir" && "$BUILD/bench_render" --write-largest-song BUSY > /dev/null)
startApp "$dir"

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

echo "driver $DRIVER, load $(cut -d ' ' -f 1-3 /proc/loadavg)"
sleep 3  # past the start-up fade
measure "idle editor"
keys F11  # the save prompt
sleep 1
measure "filename prompt open"
keys Escape
if [ "$DRIVER" != none ]; then
  keys F10 b u s y Return  # the prompt takes the name in capitals
  sleep 1
  measure "busy song loaded, stopped, voices silent"
  keys Return
  sleep 1
  measure "busy song playing"
  keys Return
  sleep 1
  measure "stopped after playing, eight voices ringing on"
fi
echo "load $(cut -d ' ' -f 1-3 /proc/loadavg)"
keys F12
waitExit 10
