#!/bin/bash
# The editor end to end: a real window on a private Xvfb, typed at with real
# key events (XTEST through xdotool). Notes, volume, effect, moves, speed,
# octave, order list, copy/paste, save under a typed name, open, export, quit
# with F12, with the window's close button and with SIGTERM (unsaved work
# kept in a recovery copy), a song named on the command line, the export
# against vorna-render with the editor's noise seed; the files it
# writes are checked by an independent reader.
# Usage: e2e_editor.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
source "$SRC/tests/scripts/editor_run.bash"
bound 90

# -- without a display the program says why and exits 1
DIR=$(newFolder nodisplay none)
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
grep -qx "vornatracker $VERSION" "$DIR/err.txt" || fail "--version said: $(cat "$DIR/err.txt")"
[ -s "$DIR/out.txt" ] && fail "--version wrote to standard output"
(cd "$DIR" && env -u DISPLAY "$BIN" --help > out.txt 2> err.txt) || fail "--help failed"
grep -q "usage: vornatracker \[SONG" "$DIR/err.txt" || fail "--help said: $(head -n 3 "$DIR/err.txt")"
echo "ok: a wrong command line exits 2 with one line on standard error; --help and --version"

startX

# -- run 1: edit, save, open, export, quit with F12
DIR=$(newFolder edit none)
startApp "$DIR"
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
waitExit 10
[ -e "$DIR/AUTOSAVE.vorna" ] && fail "AUTOSAVE.vorna was written"
$CHECK recovery "$DIR" --base "$WORK/saved.vorna" --all --name TUNE1 --file "$DIR/TUNE1.vorna" \
    --cell 3,0,0,51,0,0,0 || fail "recovery copy"
# Only scan codes on standard output, one decimal set-1 code per key-down: z s x Right = 44 31 45 77.
[ "$(head -n 4 "$DIR/out.txt" | tr '\n' ' ')" = "44 31 45 77 " ] || fail "scan code lines: $(head -n 4 "$DIR/out.txt" | tr '\n' ' ')"
grep -vqxE '[0-9]+' "$DIR/out.txt" && fail "unexpected output: $(grep -vxE '[0-9]+' "$DIR/out.txt" | head -n 3)"
echo "ok: F12 quit kept the unsaved song, with its name, in a recovery copy"

# -- run 2: a note, then the window's close button
DIR=$(newFolder close none)
startApp "$DIR"
keys x
closeWindow
waitExit 10
$CHECK recovery "$DIR" --all --cell 0,0,0,41,0,0,0 || fail "recovery copy after close"
[ "$(head -n 1 "$DIR/out.txt")" = 45 ] || fail "scan code of x"
echo "ok: closing the window kept the unsaved song in a recovery copy"

# -- run 3: nothing changed (moves only), ended by SIGTERM: a normal quit, no recovery copy
DIR=$(newFolder unchanged none)
startApp "$DIR"
keys Down Right F5
kill -TERM "$APP_PID"
waitExit 10
ls "$DIR/.vorna-recovery/"*.recovery > /dev/null 2>&1 && fail "an unchanged song left a recovery copy"
echo "ok: an unchanged song leaves no recovery copy"
# -- run 4: the window closed while the start-up animation plays: a normal end, status 0
DIR=$(newFolder splash none)
echo 1 > "$DIR/conf/video/splashscreen.conf"
cp "$SRC/splash.dat" "$DIR/"
startApp "$DIR"
closeWindow
waitExit 10
[ -s "$DIR/out.txt" ] && fail "output after a quit from the splash: $(head -n 3 "$DIR/out.txt")"
echo "ok: closing the window during the splash ends the program"

# -- run 4b: the export of a song with noise drum notes, made first thing after the
# song opened, is vorna-render's with --seed set to the second the editor started
DIR=$(newFolder seed none)
cp "$SRC/songs/first_steps.vorna" "$DIR/"
started=$(date +%s)
startApp "$DIR" first_steps.vorna
opened=$(date +%s)
keys F9
waitFile "$DIR/first_steps.wav"
keys F12
waitExit 10
"$BUILD/vorna-render" "$DIR/first_steps.vorna" -o "$WORK/seed1.wav" --quiet
cmp -s "$WORK/seed1.wav" "$DIR/first_steps.wav" && fail "the editor's noise is that of seed 1: this check tells nothing"
same=
for second in $(seq "$started" "$opened"); do
  "$BUILD/vorna-render" "$DIR/first_steps.vorna" -o "$WORK/seed.wav" --seed "$second" --quiet
  cmp -s "$WORK/seed.wav" "$DIR/first_steps.wav" && same=$second
done
[ -n "$same" ] || fail "no --seed from $started to $opened renders the editor's export byte for byte"
echo "ok: the editor's export is vorna-render --seed $same (the second it started)"

# -- run 5: a song named on the command line (a path, with its extension) opens
# at start-up; F11 saves it back to the same file without asking
DIR=$(newFolder argument none)
mkdir "$DIR/sub"
cp "$WORK/saved.vorna" "$DIR/sub/Tune.vorna"
startApp "$DIR" sub/Tune.vorna
keys F4 F11                     # speed 4 -> 5, then save
for _ in $(seq 50); do cmp -s "$DIR/sub/Tune.vorna" "$WORK/saved.vorna" || break; sleep 0.1; done
cmp -s "$DIR/sub/Tune.vorna" "$WORK/saved.vorna" && fail "F11 did not write sub/Tune.vorna"
[ -e "$DIR/Tune.vorna" ] || [ -e "$DIR/sub/Tune.vorna.vorna" ] && fail "the song was saved under another name"
$CHECK song "$DIR/sub/Tune.vorna" "${SONG[@]}" --speed 5 || fail "the song saved back"  # the last --speed counts
keys F12
waitExit 10
ls "$DIR/.vorna-recovery/"*.recovery > /dev/null 2>&1 && fail "a song saved back left a recovery copy"
grep -vqxE '[0-9]+' "$DIR/out.txt" && fail "standard output holds more than scan codes: $(head -n 3 "$DIR/out.txt")"
echo "ok: a song named on the command line opens, and F11 saves it back"

# -- run 6: the README's "Your first song in five minutes", typed as it says,
# without a sound output (driver none), where the text leaves a choice the
# keys named beside it
DIR=$(newFolder walkthrough none)
startApp "$DIR"
keys z x c v b                  # 2. C D E F G on rows 0..4 of the first channel
keys Down Down n                # 3. two empty rows, then A on row 7
keys Return                     # 4. play from the top: the play position moves without sound too
sleep 0.3
screenshot "$WORK/playing1.png" 106 86 429 386
sleep 0.4
screenshot "$WORK/playing2.png" 106 86 429 386
keys Return                     #    and stop
cmp -s "$WORK/playing1.png" "$WORK/playing2.png" && fail "without a sound output the pattern view stood still while playing"
keys Page_Up Page_Up Page_Up Page_Up  # 3. back to row 0
keys Tab z x                    # 5. the next channel: C, D
keys Up Right 2 0               # 6. half volume beside the D, then 0 on the row below
keys Tab ctrl+Tab F7            # 7. Tab, Ctrl+Tab: slot 00, first digit; F7 copies pattern 00
keys Down Right 1 F8 ctrl+Tab   #    slot 01 plays pattern 01, shown; F8 pastes; back to the channels
keys F11 t u n e Return         # 8. save under a typed name
waitFile "$DIR/TUNE.vorna"
WALK=()
for pattern in 0 1; do
  WALK+=(--cell 0,$pattern,0,39,0,0,0 --cell 0,$pattern,1,41,0,0,0 --cell 0,$pattern,2,43,0,0,0
         --cell 0,$pattern,3,44,0,0,0 --cell 0,$pattern,4,46,0,0,0 --cell 0,$pattern,7,48,0,0,0
         --cell 1,$pattern,0,39,0,0,0 --cell 1,$pattern,1,41,48,0,0 --cell 1,$pattern,2,0,16,0,0)
done
$CHECK song "$DIR/TUNE.vorna" --speed 3 --orders 0,1 --theme 60,70,80 "${WALK[@]}" || fail "the walkthrough's song"
keys F9                         #    F9 under the song's name: 2 patterns x 64 rows x 3 ticks x 1000 frames
waitFile "$DIR/TUNE.wav"
$CHECK wav "$DIR/TUNE.wav" --frames 384000 || fail "the walkthrough's WAV"
keys F4 F11                     #    F11 again saves without asking
waitUntil 50 eval "$CHECK song '$DIR/TUNE.vorna' --speed 4 --orders 0,1 ${WALK[*]} > /dev/null" ||
  fail "F11 after a save under a typed name did not save back to TUNE.vorna"
keys F12
waitExit 10
[ "$(ls -A "$DIR" | grep -vxE 'conf|out.txt|err.txt|TUNE.vorna|TUNE.wav|.vorna-recovery' || true)" = "" ] ||
  fail "the walkthrough left other files: $(ls -A "$DIR")"
ls "$DIR/.vorna-recovery/"*.recovery > /dev/null 2>&1 && fail "a saved walkthrough left a recovery copy"
echo "ok: the README walkthrough typed as written: the song plays without sound, two patterns, saved as TUNE, F9 and F11 under that name"

# -- a missing song on the command line: the editor starts with the empty song and says why on standard error
DIR=$(newFolder missing none)
startApp "$DIR" nothing/here.vorna
grep -q 'nothing/here.vorna' "$DIR/err.txt" || fail "a missing song was not reported: $(cat "$DIR/err.txt")"
keys F12
waitExit 10
echo "ok: a missing song on the command line leaves the empty song"
echo "e2e editor: all passed"
