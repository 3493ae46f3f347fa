#!/bin/bash
# The sound server going away under the running editor: with a song playing
# through a private PulseAudio daemon (and, in a second run, a private JACK
# server), the server is killed outright. The editor must say once on
# standard error that the sound stopped, keep taking keys, save under a typed
# name what was typed before and after, and quit on F12 promptly with status 0.
# Usage: server_loss.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
source "$SRC/tests/scripts/editor_run.bash"
bound 240

have() { command -v "$1" > /dev/null; }
stoppedLines() { grep -c '^audio: sound stopped: ' "$1/err.txt" || true; }
hasStopped() { [ "$(stoppedLines "$1")" -ge 1 ]; }

# lossRun NAME DRIVER KILL_COMMAND CONNECTED_COMMAND
lossRun() {
  local name=$1 driver=$2 killServer=$3 connected=$4
  local dir
  dir=$(newFolder "$name" "$driver")
  startApp "$dir"
  waitUntil 100 $connected || fail "$name: the editor never connected to the server"
  grep -q 'running without sound' "$dir/err.txt" && fail "$name: no stream: $(cat "$dir/err.txt")"

  keys z s x                 # C-3 C#3 D-3 on channel 0, rows 0..2
  keys Return                # play
  sleep 1
  $killServer
  waitUntil 150 hasStopped "$dir" || fail "$name: no \"sound stopped\" line after the server died"
  appAlive || fail "$name: the editor died with the server"

  # Editing goes on: stop, back to row 0 (four steps of 16 clamp there),
  # channel 1 gets E-3 and F-3.
  keys Return Prior Prior Prior Prior Tab c v
  keys F11 l o s s Return    # save under a typed name (taken in capitals)
  waitFile "$dir/LOSS.vorna"
  $CHECK song "$dir/LOSS.vorna" --speed 3 --theme 60,70,80 \
      --cell 0,0,0,39,0,0,0 --cell 0,0,1,40,0,0,0 --cell 0,0,2,41,0,0,0 \
      --cell 1,0,0,43,0,0,0 --cell 1,0,1,44,0,0,0 || fail "$name: the song saved after the loss"
  appAlive || fail "$name: the editor ended after saving"

  local t0 t1
  t0=$(date +%s%N)
  keys F12
  waitExit 8
  t1=$(date +%s%N)
  local lines
  lines=$(stoppedLines "$dir")
  [ "$lines" = 1 ] || fail "$name: $lines \"sound stopped\" lines, expected one"
  ls "$dir/.vorna-recovery/"*.recovery > /dev/null 2>&1 && fail "$name: a saved song left a recovery copy"
  echo "ok: $name: loss noticed ($(grep '^audio: sound stopped' "$dir/err.txt")),"\
       "edit and save went on, F12 quit in $(((t1 - t0) / 1000000)) ms"
  local others
  others=$(grep -v '^audio: sound stopped: ' "$dir/err.txt" || true)
  # Other lines: the audio library's own warning (JACK's back end announces the
  # shutdown itself), the note on a close left to a frozen server; shown, not counted.
  [ -n "$others" ] && echo "   other lines on standard error: $(echo "$others" | grep . | head -n 3 | tr '\n' '|')"
  return 0
}

startX

# -- PulseAudio, killed with SIGKILL while the song plays
if have pulseaudio; then
  startPulse
  killPulse() { kill -KILL "$PULSE_PID"; wait "$PULSE_PID" 2> /dev/null || true; PULSE_PID=; }
  pulseHasUs() { pactl list sink-inputs 2> /dev/null | grep -q VornaTracker; }
  lossRun pulse-run pulse killPulse pulseHasUs
else
  echo "skipped: pulseaudio is not installed"
fi

# -- PulseAudio frozen (SIGSTOP): it neither answers nor closes the
# connection; quitting must still not wait on it for long
if have pulseaudio; then
  startPulse
  freezePulse() { kill -STOP "$PULSE_PID"; }
  lossRun frozen-run pulse freezePulse pulseHasUs
  kill -KILL "$PULSE_PID" 2> /dev/null || true
  kill -CONT "$PULSE_PID" 2> /dev/null || true
  wait "$PULSE_PID" 2> /dev/null || true
  PULSE_PID=
fi

# -- JACK on its dummy driver, killed with SIGKILL while the song plays
if have jackd; then
  startJack 512
  killJack() { kill -KILL "$JACK_PID"; wait "$JACK_PID" 2> /dev/null || true; JACK_PID=; }
  jackHasUs() { jack_lsp 2> /dev/null | grep -q '^VornaTracker:'; }
  lossRun jack-run jack killJack jackHasUs
else
  echo "skipped: jackd is not installed"
fi
echo "server loss: all passed"
