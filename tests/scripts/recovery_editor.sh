#!/bin/bash
# Unsaved work survives every way out of the real editor, and undo and redo
# work through its window. A private Xvfb, real key events (xdotool, each key
# held 60 ms), the files read back by the independent checker.
#
#   1. SIGKILL at random moments of an editing session, 50 times: every note
#      typed half a second or more before the kill is in the newest recovery
#      copy, and the next start opens that copy (its work carries on)
#   2. every other way out once: F12, the window's close button, SIGTERM,
#      SIGINT, SIGHUP, a crash; the next start shows the work, and saving it
#      leaves no copy behind
#   3. undo and redo of notes, speed, theme, paste, order slot and a load,
#      the saved files compared with songs worked out by hand
#   4. no place for copies (a user who may write neither the working folder
#      nor the state folder): standard error names the real reason, and F12
#      or the close button quits only when asked twice
#   5. a start with a song while a copy of earlier unsaved work waits: said,
#      and the copy kept
# Usage: recovery_editor.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
source "$SRC/tests/scripts/editor_run.bash"
bound 300

now() { date +%s.%N; }
copiesIn() { ls "$1/.vorna-recovery/"*.recovery 2> /dev/null | wc -l; }
onlyScanCodes() {
  grep -vqxE '[0-9]+' "$1/out.txt" && fail "standard output holds more than scan codes: $(grep -vxE '[0-9]+' "$1/out.txt" | head -n 3)"
  return 0
}

startX
START=$(date +%s)

# ---------------------------------------------------------------------------
# 1. Killed at random moments

NOTES=(z s x d c v g b h n j m)  # C-3 .. B-3: notes 39 .. 50 at octave 3
DIR=$(newFolder kills none)
BASE=
PREV=
for i in $(seq 0 "${KILLS:-49}"); do  # KILLS=n for a shorter run while developing
  startApp "$DIR"
  if [ -n "$PREV" ]; then
    grep -q "recovered unsaved work from .*/$PREV\$" "$DIR/err.txt" || fail "kill $i: the start did not open $PREV"
  fi
  ch=$((i % 8))
  : > "$WORK/log"
  # Channel ch from row 0, one note after another, logged just before each key goes down.
  (
    for _ in $(seq $ch); do keys Tab; done
    for row in $(seq 0 15); do
      k=$(((i + row) % 12))
      echo "$(now) $ch $row $((39 + k))" >> "$WORK/log"
      keys "${NOTES[$k]}"
    done
  ) 2> /dev/null &
  typer=$!
  sleep "$(awk -v r=$RANDOM 'BEGIN { printf "%.3f", 0.2 + 1.8 * r / 32767 }')"
  T=$(now)
  kill -KILL "$APP_PID"
  { wait "$APP_PID"; } 2> /dev/null || true
  APP_PID=
  kill "$typer" 2> /dev/null || true
  { wait "$typer"; } 2> /dev/null || true
  xdotool keyup Tab "${NOTES[@]}" 2> /dev/null || true
  copy=$($CHECK recovery "$DIR" ${BASE:+--base "$BASE"} --log "$WORK/log" --killed-at "$T") ||
      fail "kill $i: $copy"
  if [ "$copy" != none ]; then
    cp "$copy" "$WORK/base.recovery"
    BASE=$WORK/base.recovery
    PREV=$(basename "$copy")
  fi
done
echo "ok: $((${KILLS:-49} + 1)) kills at random moments: every note older than 0.5 s was in the newest copy," \
     "and each next start opened it ($(($(date +%s) - START)) s)"

# ---------------------------------------------------------------------------
# 2. Every other way out

# SIGINT is ignored by jobs a script starts in the background; a terminal's
# Ctrl+C reaches a program with it in place, as this wrapper gives it.
printf '#!/bin/sh\nexec env --default-signal=INT "%s" "$@"\n' "$BIN" > "$WORK/with-int"
chmod +x "$WORK/with-int"
EDITOR_BIN=$BIN
for way in F12 close TERM INT HUP crash; do
  DIR=$(newFolder "way-$way" none)
  [ $way = INT ] && BIN=$WORK/with-int
  startApp "$DIR"
  BIN=$EDITOR_BIN
  # D-3 = 41 on channel 0 row 0, then speed 4 and out at once: inside the 150 ms
  # a copy waits for more keys, so the way out itself must write the speed.
  keys x F4
  case $way in
    F12) keys F12 ;;
    close) closeWindow ;;
    crash) sleep 0.6; kill -SEGV "$APP_PID" ;;
    *) kill -$way "$APP_PID" ;;
  esac
  if [ $way = crash ]; then
    waitUntil 50 eval '! appAlive' || fail "crash: the editor still runs"
    { wait "$APP_PID"; } 2> /dev/null || true
    APP_PID=
  else
    waitExit 10
  fi
  copy=$($CHECK recovery "$DIR" --all --speed 4 --cell 0,0,0,41,0,0,0) || fail "$way: the copy: $copy"
  # The next start shows the work: saved as it came back, it is the song typed.
  startApp "$DIR"
  grep -q "recovered unsaved work" "$DIR/err.txt" || fail "$way: the next start opened nothing"
  keys F11 w o r k Return
  waitFile "$DIR/WORK.vorna"
  out=$($CHECK song "$DIR/WORK.vorna" --speed 4 --theme 60,70,80 --cell 0,0,0,41,0,0,0) || fail "$way: saved work: $out"
  keys F12
  waitExit 10
  [ "$(copiesIn "$DIR")" = 0 ] || fail "$way: a copy stayed after the work was saved"
  onlyScanCodes "$DIR"
  echo "ok: $way kept the unsaved work; the next start opened it"
done

# A long export ended by SIGTERM: the editor ends normally and its temporary file goes.
# The song: 64 slots of pattern 0 at speed 15 with a note on every channel (written byte by byte).
DIR=$(newFolder export-stopped none)
{ printf 'VORNADEV\x00\x00\x00\x02\x30\x00\x00\x00\x01\x3c\x46\x50\x0f\x01\x3f\x00'
  for c in 0 1 2 3 4 5 6 7; do printf '\x27\x01\xbf\xfe\x00'; done; } > "$DIR/LONG.vorna"
startApp "$DIR"
keys F10 l o n g Return
sleep 0.3
keys F9
temps() { ls -A "$DIR" | grep -c '^\.vorna-tmp-' || true; }
waitUntil 100 eval '[ "$(temps)" -gt 0 ]' || fail "export: no temporary file seen"
kill -TERM "$APP_PID"
waitExit 10
[ "$(temps)" = 0 ] || fail "export: the stopped export left its temporary file"
[ -e "$DIR/LONG.wav" ] && fail "export: a stopped export wrote LONG.wav"
[ "$(copiesIn "$DIR")" = 0 ] || fail "export: an opened, unchanged song left a copy"
echo "ok: SIGTERM during an export ended the editor normally and removed the temporary file"

# ---------------------------------------------------------------------------
# 3. Undo and redo through the window

DIR=$(newFolder undo none)
startApp "$DIR"
keys z x c            # channel 0 rows 0..2: 39, 41, 43
keys ctrl+z ctrl+z    # rows 2 and 1 emptied, the cursor back on row 1
keys ctrl+y           # row 1 is 41 again
keys v                # row 1 becomes 44: the redo of row 2 is gone
keys ctrl+shift+z     # nothing to redo
keys F4 F4 ctrl+z     # speed 5, back to 4
keys Scroll_Lock ctrl+z  # a random theme, and back
keys F7 Tab F8        # channel 0 pasted into channel 1
keys ctrl+z ctrl+y    # the whole paste goes and comes back
keys ctrl+Tab 1       # order slot 0 = pattern 16 ...
keys ctrl+z           # ... and back to 0
keys F11 s a v e d Return
waitFile "$DIR/SAVED.vorna"
SAVED=(--speed 4 --theme 60,70,80 --cell 0,0,0,39,0,0,0 --cell 0,0,1,44,0,0,0 --cell 1,0,0,39,0,0,0 --cell 1,0,1,44,0,0,0)
out=$($CHECK song "$DIR/SAVED.vorna" "${SAVED[@]}") || fail "undo: the saved song: $out"
keys ctrl+Tab Next Next Next Next b  # channel 1 row 63: 46, not saved
keys F10 s a v e d Return            # opening asks nothing about it
sleep 0.3
keys ctrl+z                          # the load undone: the unsaved note is back, named SAVED as before
keys F11                             # named by the typed save: saved back without asking
waitUntil 50 eval "$CHECK song '$DIR/SAVED.vorna' ${SAVED[*]} --cell 1,0,63,46,0,0,0 > /dev/null" ||
  fail "undo: the load undone: $($CHECK song "$DIR/SAVED.vorna" "${SAVED[@]}" --cell 1,0,63,46,0,0,0)"
keys ctrl+y F12       # the load again (saved as it is), then quit
waitExit 10
[ "$(copiesIn "$DIR")" = 0 ] || fail "undo: a copy stayed though everything was saved"
onlyScanCodes "$DIR"
echo "ok: undo and redo of notes, speed, theme, paste, order slot and load, saved as worked out"

# ---------------------------------------------------------------------------
# 4. No place for copies

# The editor runs as nobody in root's folders, the state folder root's too.
chmod 755 "$WORK"
mkdir -m 755 "$WORK/state-locked"
printf '#!/bin/sh\nexec setpriv --reuid=65534 --regid=65534 --clear-groups env XDG_STATE_HOME=%s "%s" "$@"\n' \
    "$WORK/state-locked" "$EDITOR_BIN" > "$WORK/as-nobody"
chmod +x "$WORK/as-nobody"
for way in F12 close; do
  DIR=$(newFolder "noplace-$way" none)
  BIN=$WORK/as-nobody
  startApp "$DIR"
  BIN=$EDITOR_BIN
  keys x
  waitUntil 30 grep -q "unsaved work has no recovery copy" "$DIR/err.txt" || fail "$way: nothing said of the missing copy"
  grep -q "cannot make folder $DIR/.vorna-recovery: Permission denied" "$DIR/err.txt" ||
      fail "$way: the working folder's reason is not named"
  grep -q "cannot make folder $WORK/state-locked/vornatracker: Permission denied" "$DIR/err.txt" ||
      fail "$way: the state folder's reason is not named"
  grep -q "No such file" "$DIR/err.txt" && fail "$way: a wrong reason was given"
  if [ $way = F12 ]; then keys F12; else closeWindow; fi
  sleep 1
  appAlive || fail "$way: the editor quit at once though the unsaved work had no copy"
  if [ $way = F12 ]; then keys F12; else closeWindow; fi
  waitExit 10
  onlyScanCodes "$DIR"
  echo "ok: $way with no place for copies: the real reason said, quit only when asked twice"
done

# ---------------------------------------------------------------------------
# 5. A start with a song while earlier work waits

DIR=$(newFolder waiting none)
startApp "$DIR"
keys F11 t u n e Return
waitFile "$DIR/TUNE.vorna"
keys F12
waitExit 10
# Opened from the command line, edited, killed: its copy names the song.
startApp "$DIR" TUNE
keys x
sleep 0.7
kill -KILL "$APP_PID"
{ wait "$APP_PID"; } 2> /dev/null || true
APP_PID=
copy=$($CHECK recovery "$DIR" --all --name TUNE --cell 0,0,0,41,0,0,0) || fail "waiting: the copy: $copy"
startApp "$DIR" TUNE
grep -q "unsaved work of an earlier run is kept in 1 recovery copy" "$DIR/err.txt" ||
    fail "waiting: a start with a song said nothing of the copy"
grep -q "recovered unsaved work" "$DIR/err.txt" && fail "waiting: a start with a song opened the copy"
keys F12
waitExit 10
[ -f "$copy" ] || fail "waiting: the copy was not kept"
echo "ok: a start with a song said that earlier unsaved work waits, and kept its copy"
echo "recovery editor: all passed in $(($(date +%s) - START)) s"
