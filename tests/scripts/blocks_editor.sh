#!/bin/bash
# Composing through the real window: a private Xvfb, real key events
# (xdotool, each key held 60 ms), the saved files read back by the
# independent checker and compared with songs worked out by hand.
#
#   1. blocks marked with Shift and the arrows, interpolated, copied, pasted,
#      transposed, rows inserted and removed, pasted into empty fields, cut;
#      then undone step by step, each stage saved and checked
#   2. Ctrl+Return loops the shown pattern: a note typed after more than one
#      pass lands in the same pattern, and the order cursor has not moved;
#      plain Return, as a control, has gone on to the next slot by then
# Usage: blocks_editor.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
source "$SRC/tests/scripts/editor_run.bash"
bound 180

# save NAME: F11 with the name typed into the prompt, which names the song.
save() {
  keys F11 $(echo "$1" | sed 's/./& /g') Return
  waitFile "$DIR/$(echo "$1" | tr a-z A-Z).vorna"
}
# saveAgain STAGE: F11 saves the named song BLOCKS.vorna again without asking;
# once it has changed, a copy is kept as $WORK/STAGE.vorna.
saveAgain() {
  keys F11
  waitUntil 50 eval '! cmp -s "$DIR/BLOCKS.vorna" "$WORK/last.vorna"' || fail "F11 did not save $1"
  cp "$DIR/BLOCKS.vorna" "$WORK/$1.vorna"
  cp "$DIR/BLOCKS.vorna" "$WORK/last.vorna"
}
times() { local n=$1; shift; for _ in $(seq "$n"); do keys "$@"; done; }

startX

# ---------------------------------------------------------------------------
# 1. Blocks

DIR=$(newFolder blocks none)
startApp "$DIR"
keys z x c v                        # channel 1, rows 0..3: notes 39 41 43 44
times 4 Up; keys Right 4            # row 0 volume 40 (stored 80)
keys Down Down 0                    # row 3 volume 00 (stored 16)
times 4 Up
times 3 shift+Down                  # the volume column, rows 0..3
keys ctrl+i                         # rows 1 and 2 on the line from 80 to 16: 58.67 -> 59, 37.33 -> 37
keys Escape Left; times 3 Up
times 3 shift+Down; keys shift+Right  # notes and volumes, rows 0..3
keys ctrl+c
keys Tab Tab; times 5 Down          # channel 3, row 8
keys ctrl+v                         # rows 8..11 the copied notes and volumes
times 3 shift+Down                  # its notes
keys ctrl+Up ctrl+shift+Up          # +1, then +12
keys Escape; times 6 Tab; times 11 Up
keys Insert                         # channel 1 from row 0 one row down
times 3 Down; keys BackSpace        # row 3 (note 43) out, the rows below up
times 3 Up; keys shift+Insert       # every channel from row 0 one row down
keys Tab Tab; times 10 Down
keys ctrl+shift+v                   # rows 10..13 of channel 3: only row 13 was empty
times 6 Tab; times 6 Up
keys ctrl+x                         # channel 1 row 4 cut without a block: its cell
times 5 Tab; keys Next ctrl+v       # pasted on channel 6, row 20
save blocks
cp "$DIR/BLOCKS.vorna" "$WORK/last.vorna"
$CHECK song "$DIR/BLOCKS.vorna" --speed 3 --orders 0 --theme 60,70,80 \
    --cell 0,0,2,39,80,0,0 --cell 0,0,3,41,59,0,0 \
    --cell 2,0,9,52,80,0,0 --cell 2,0,10,54,59,0,0 --cell 2,0,11,56,37,0,0 --cell 2,0,12,57,16,0,0 \
    --cell 2,0,13,44,16,0,0 --cell 5,0,20,44,16,0,0 || fail "after the block commands"
echo "ok: interpolated, copied, pasted, transposed, rows inserted and removed, pasted into empty fields, cut"

times 3 ctrl+z                      # the paste, the cut and the paste into empty fields
saveAgain blocks2
STAGE2=(--cell 0,0,2,39,80,0,0 --cell 0,0,3,41,59,0,0 --cell 0,0,4,44,16,0,0
        --cell 2,0,9,52,80,0,0 --cell 2,0,10,54,59,0,0 --cell 2,0,11,56,37,0,0 --cell 2,0,12,57,16,0,0)
$CHECK song "$WORK/blocks2.vorna" "${STAGE2[@]}" || fail "three steps undone"
times 4 ctrl+z                      # every-channel insert, remove, insert, the octave up
saveAgain blocks3
$CHECK song "$WORK/blocks3.vorna" \
    --cell 0,0,0,39,80,0,0 --cell 0,0,1,41,59,0,0 --cell 0,0,2,43,37,0,0 --cell 0,0,3,44,16,0,0 \
    --cell 2,0,8,40,80,0,0 --cell 2,0,9,42,59,0,0 --cell 2,0,10,44,37,0,0 --cell 2,0,11,45,16,0,0 ||
    fail "seven steps undone"
times 4 ctrl+y
saveAgain blocks4
$CHECK song "$WORK/blocks4.vorna" "${STAGE2[@]}" || fail "four steps redone"
keys F12
waitExit 10
grep -vqxE '[0-9]+' "$DIR/out.txt" && fail "standard output holds more than scan codes: $(grep -vxE '[0-9]+' "$DIR/out.txt" | head -n 3)"
echo "ok: each block command is one undo step"

# ---------------------------------------------------------------------------
# 2. The pattern loop

if ! command -v pulseaudio > /dev/null; then fail "no pulseaudio: the pattern loop needs a live stream"; fi
startPulse

# playFor KEY NAME: orders 0,1 at speed 1 (a pattern lasts 64000 frames, 1.45 s),
# played with KEY from pattern 0; after 2.1 s a note is typed where the song
# is, play stops, and the order slot under the cursor is emptied; saved as
# NAME, its orders and notes in $WORK/NAME.notes.
playFor() {
  DIR=$(newFolder "$2" pulse)
  startApp "$DIR"
  keys ctrl+Tab Down Right 1 Up Up  # slot 1 = pattern 1, back on slot 0
  keys ctrl+Tab Left F3 F3          # channel 1's note column, speed 1
  keys "$1"
  sleep 2.1
  keys z Return
  keys ctrl+Tab Delete
  save "$2"
  keys F12
  waitExit 10
  $CHECK notes "$DIR/$(echo "$2" | tr a-z A-Z).vorna" > "$WORK/$2.notes" || fail "$2: $(cat "$WORK/$2.notes")"
}

playFor ctrl+Return loop
looped=$(cat "$WORK/loop.notes")
grep -qx "orders 255,1" <<< "$looped" || fail "the loop moved the order position: $looped"
notes=$(grep -vc '^orders' <<< "$looped") || true
[ "$notes" = 1 ] && grep -qE '^0 [0-9]+ 0 39$' <<< "$looped" || fail "the looped note is not in pattern 0: $looped"
echo "ok: Ctrl+Return looped pattern 0: the note typed on its second pass is in it, the order slot is 0"

playFor Return plain
plain=$(cat "$WORK/plain.notes")
grep -qx "orders 0" <<< "$plain" || fail "the control run is not on slot 1: $plain"
grep -qE '^1 [0-9]+ 0 39$' <<< "$plain" || fail "the control run's note is not in pattern 1: $plain"
echo "ok: plain Return had gone on to slot 1 by then"
echo "blocks editor: all passed"
