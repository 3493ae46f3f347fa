#!/bin/bash
# The editor end to end: a real window on a private Xvfb, typed at with real
# key events (XTEST through xdotool). Notes, volume, effect, moves, speed,
# octave, order list, copy/paste, save under a typed name, open, export, quit
# with F12, with the window's close button and with SIGTERM (unsaved work
# kept in a recovery copy), a song named on the command line; the files it
# writes are checked by an independent reader.
# Usage: e2e_editor.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
BIN=$BUILD/vornatracker
CHECK="python3 $SRC/tests/scripts/e2e_check.py"
for tool in Xvfb xdotool python3; do
  command -v $tool > /dev/null || { echo "missing $tool (tools/install-deps.sh installs it)"; exit 1; }
done
[ -x "$BIN" ] || { echo "no $BIN"; exit 1; }

WORK=$(mktemp -d /tmp/vorna-e2e-XXXXXX)
XVFB_PID=
APP_PID=
cleanup() {
  [ -n "$APP_PID" ] && kill -KILL "$APP_PID" 2> /dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2> /dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; for f in "$WORK"/*/out.txt "$WORK"/*/err.txt; do [ -f "$f" ] && { echo "-- $f"; tail -n 20 "$f"; }; done; exit 1; }
# Whole test bounded: a hung step must not hold the suite.
( trap 'kill $! 2> /dev/null; exit 0' TERM; sleep 60 > /dev/null 2>&1 & wait; echo "FAIL: timed out"; kill -TERM $$ ) &
WATCHDOG=$!
trap 'kill $WATCHDOG 2> /dev/null || true; cleanup' EXIT

# A fresh working folder with its own configuration: no sound, no splash, windowed.
newFolder() {
  local dir=$WORK/$1
  mkdir -p "$dir/conf/audio" "$dir/conf/video"
  echo none > "$dir/conf/audio/driver.conf"
  echo 512 > "$dir/conf/audio/dsound_buffersize.conf"
  echo 0 > "$dir/conf/video/sdl_fullscreen.conf"
  echo 0 > "$dir/conf/video/splashscreen.conf"
  echo 1 > "$dir/conf/video/scale.conf"
  echo "$dir"
}

# -- without a display the program says why and exits 1
DIR=$(newFolder nodisplay)
set +e
(cd "$DIR" && env -u DISPLAY -u SDL_VIDEODRIVER timeout 10 "$BIN" > out.txt 2> err.txt)
status=$?
set -e
[ "$status" = 1 ] || fail "no display: exit status $status, expected 1"
[ "$(wc -l < "$DIR/err.txt")" -ge 1 ] || fail "no display: nothing said on standard error"
echo "ok: without a display it exits 1: $(tail -n 1 "$DIR/err.txt")"

# -- a wrong command line: one line on standard error, nothing on standard output, exit 2
for args in "--bogus" "-x tune" "one two"; do
  set +e
  # shellcheck disable=SC2086
  (cd "$DIR" && env -u DISPLAY "$BIN" $args > out.txt 2> err.txt)
  status=$?
  set -e
  [ "$status" = 2 ] || fail "command line '$args': exit status $status, expected 2"
  [ "$(wc -l < "$DIR/err.txt")" = 1 ] || fail "command line '$args': standard error is not one line: $(cat "$DIR/err.txt")"
  [ -s "$DIR/out.txt" ] && fail "command line '$args' wrote to standard output"
done
(cd "$DIR" && env -u DISPLAY "$BIN" --version > out.txt 2> err.txt) || fail "--version failed"
grep -qx "vornatracker pre8" "$DIR/err.txt" || fail "--version said: $(cat "$DIR/err.txt")"
[ -s "$DIR/out.txt" ] && fail "--version wrote to standard output"
(cd "$DIR" && env -u DISPLAY "$BIN" --help > out.txt 2> err.txt) || fail "--help failed"
grep -q "usage: vornatracker \[SONG" "$DIR/err.txt" || fail "--help said: $(head -n 3 "$DIR/err.txt")"
echo "ok: a wrong command line exits 2 with one line on standard error; --help and --version"

# -- a private X server on a free display number; no reset when the last
# client leaves, or a client connecting just then would be refused
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset 3> "$WORK/display" 2> "$WORK/xvfb.err" &
XVFB_PID=$!
for _ in $(seq 50); do [ -s "$WORK/display" ] && break; sleep 0.1; done
[ -s "$WORK/display" ] || fail "Xvfb did not start: $(cat "$WORK/xvfb.err")"
export DISPLAY=:$(head -n 1 "$WORK/display")

start() {  # start DIR [ARGUMENT...]: runs the editor there and waits for its window
  cd "$1"
  shift
  "$BIN" "$@" > out.txt 2> err.txt &
  APP_PID=$!
  cd - > /dev/null
  WIN=
  for _ in $(seq 100); do
    WIN=$(xdotool search --name "VornaTracker pre8" 2> /dev/null | head -n 1) && [ -n "$WIN" ] && break
    kill -0 $APP_PID 2> /dev/null || fail "the editor ended before its window opened"
    sleep 0.1
  done
  [ -n "$WIN" ] || fail "no window titled VornaTracker pre8"
  xdotool windowfocus --sync "$WIN"
  sleep 0.3
}

# Each key held 100 ms (several 10 ms ticks, far below the 440 ms repeat), then 50 ms apart.
keys() {
  for k in "$@"; do
    xdotool keydown "$k"
    sleep 0.1
    xdotool keyup "$k"
    sleep 0.05
  done
}

waitFile() {  # waitFile PATH: until it exists (written by a safe rename, so whole)
  for _ in $(seq 100); do [ -f "$1" ] && return 0; sleep 0.1; done
  fail "$1 was not written"
}

waitExit() {  # waitExit: the editor ends within 10 s with status 0
  local status
  for _ in $(seq 100); do kill -0 $APP_PID 2> /dev/null || break; sleep 0.1; done
  kill -0 $APP_PID 2> /dev/null && fail "the editor did not end"
  set +e; wait $APP_PID; status=$?; set -e
  APP_PID=
  [ "$status" = 0 ] || fail "the editor ended with status $status"
}

# -- run 1: edit, save, open, export, quit with F12
DIR=$(newFolder edit)
start "$DIR"
keys z s x                      # notes C-3 C#3 D-3 on channel 0, rows 0..2
keys Right Up Up Up 3           # first volume digit on row 0
keys Up Right 5                 # second volume digit: level 35, stored 69
keys Tab Down F6 q              # channel 1, row 2, octave 4: Q = note 63
keys F4 F4 F3                   # speed 3 -> 4
keys Right Right Right c        # effect C on row 3
keys Right a                    # parameter A0 on row 4
keys ctrl+Tab Right Down 1      # order list: slot 1 = pattern 1 (second digit)
keys Left 1                     # slot 2 = pattern 0x10 (first digit)
keys Up Up                      # back to slot 1: pattern 1 shown
keys ctrl+Tab Tab m             # channel 2, row 5 of pattern 1: M = note 62
keys F7 Tab F8                  # copy channel 2, paste into channel 3
keys Pause Scroll_Lock          # mute (not saved), random theme
keys F11 t u n e 1 Return       # save under a typed name (the prompt takes it in capitals)
waitFile "$DIR/TUNE1.vorna"
SONG=(--speed 4 --orders 0,1,16 --theme-random
      --cell 0,0,0,39,69,0,0 --cell 0,0,1,40,0,0,0 --cell 0,0,2,41,0,0,0
      --cell 1,0,2,63,0,0,0 --cell 1,0,3,0,0,12,0 --cell 1,0,4,0,0,0,0xA0
      --cell 2,1,5,62,0,0,0 --cell 3,1,5,62,0,0,0)
$CHECK song "$DIR/TUNE1.vorna" "${SONG[@]}" || fail "saved song"
cp "$DIR/TUNE1.vorna" "$WORK/saved.vorna"

keys F4                         # speed 5, then open the saved song again
keys F10 t u n e 1 Return
sleep 0.5
rm "$DIR/TUNE1.vorna"
keys F11                        # a loaded song saves under its name without asking
waitFile "$DIR/TUNE1.vorna"
cmp -s "$DIR/TUNE1.vorna" "$WORK/saved.vorna" || fail "open did not bring back the saved song"
echo "ok: open restored the saved song, save reused its name"

keys F9                         # export to TUNE1.wav: 3 patterns x 64 rows x 4 ticks x 1000 frames
waitFile "$DIR/TUNE1.wav"
$CHECK wav "$DIR/TUNE1.wav" --frames 768000 || fail "exported WAV"

keys z F12                      # the export left pattern 0 row 0: note 51 on channel 3, then quit
waitExit
[ -e "$DIR/AUTOSAVE.vorna" ] && fail "AUTOSAVE.vorna was written"
$CHECK recovery "$DIR" --base "$WORK/saved.vorna" --all --name TUNE1 --cell 3,0,0,51,0,0,0 || fail "recovery copy"
# Only scan codes on standard output, one decimal set-1 code per key-down: z s x Right = 44 31 45 77.
[ "$(head -n 4 "$DIR/out.txt" | tr '\n' ' ')" = "44 31 45 77 " ] || fail "scan code lines: $(head -n 4 "$DIR/out.txt" | tr '\n' ' ')"
grep -vqxE '[0-9]+' "$DIR/out.txt" && fail "unexpected output: $(grep -vxE '[0-9]+' "$DIR/out.txt" | head -n 3)"
echo "ok: F12 quit kept the unsaved song, with its name, in a recovery copy"

# -- run 2: a note, then the window's close button
DIR=$(newFolder close)
start "$DIR"
keys x
python3 "$SRC/tests/scripts/x11_close.py" "$WIN"
waitExit
$CHECK recovery "$DIR" --all --cell 0,0,0,41,0,0,0 || fail "recovery copy after close"
[ "$(head -n 1 "$DIR/out.txt")" = 45 ] || fail "scan code of x"
echo "ok: closing the window kept the unsaved song in a recovery copy"

# -- run 3: nothing changed (moves only), ended by SIGTERM: a normal quit, no recovery copy
DIR=$(newFolder unchanged)
start "$DIR"
keys Down Right F5
kill -TERM $APP_PID
waitExit
ls "$DIR/.vorna-recovery/"*.recovery > /dev/null 2>&1 && fail "an unchanged song left a recovery copy"
echo "ok: an unchanged song leaves no recovery copy"
# -- run 4: the window closed while the start-up animation plays: a normal end, status 0
DIR=$(newFolder splash)
echo 1 > "$DIR/conf/video/splashscreen.conf"
cp "$SRC/splash.dat" "$DIR/"
start "$DIR"
python3 "$SRC/tests/scripts/x11_close.py" "$WIN"
waitExit
[ -s "$DIR/out.txt" ] && fail "output after a quit from the splash: $(head -n 3 "$DIR/out.txt")"
echo "ok: closing the window during the splash ends the program"

# -- run 5: a song named on the command line (a path, with its extension) opens
# at start-up; F11 saves it back to the same file without asking
DIR=$(newFolder argument)
mkdir "$DIR/sub"
cp "$WORK/saved.vorna" "$DIR/sub/Tune.vorna"
start "$DIR" sub/Tune.vorna
keys F4 F11                     # speed 4 -> 5, then save
for _ in $(seq 50); do cmp -s "$DIR/sub/Tune.vorna" "$WORK/saved.vorna" || break; sleep 0.1; done
cmp -s "$DIR/sub/Tune.vorna" "$WORK/saved.vorna" && fail "F11 did not write sub/Tune.vorna"
[ -e "$DIR/Tune.vorna" ] || [ -e "$DIR/sub/Tune.vorna.vorna" ] && fail "the song was saved under another name"
$CHECK song "$DIR/sub/Tune.vorna" "${SONG[@]}" --speed 5 || fail "the song saved back"  # the last --speed counts
keys F12
waitExit
ls "$DIR/.vorna-recovery/"*.recovery > /dev/null 2>&1 && fail "a song saved back left a recovery copy"
grep -vqxE '[0-9]+' "$DIR/out.txt" && fail "standard output holds more than scan codes: $(head -n 3 "$DIR/out.txt")"
echo "ok: a song named on the command line opens, and F11 saves it back"

# -- a missing song on the command line: the editor starts with the empty song and says why on standard error
DIR=$(newFolder missing)
start "$DIR" nothing/here.vorna
grep -q 'nothing/here.vorna' "$DIR/err.txt" || fail "a missing song was not reported: $(cat "$DIR/err.txt")"
keys F12
waitExit
echo "ok: a missing song on the command line leaves the empty song"
echo "e2e editor: all passed"
