#!/bin/bash
# Types the demo songs into the real editor, key by key, as a user would:
# the editor runs in a private Xvfb, xdotool presses the keys, F11 saves
# under a typed name, and the files are copied to songs/ in lower case.
# Usage: tools/make_demo_songs.sh [BUILD_DIR] [OUT_DIR]   (defaults: build songs)
#
#   1. X server, editor, keys
#   2. first_steps: drums, bass and a lead, a glide, vibrato and a roll; a
#      second pattern by copy and paste
#   3. eight_voices: every voice, volumes, an arpeggio, a fade, a pattern
#      break, a longer order list
set -euo pipefail
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$SRC/build}" && pwd)
OUT=$(realpath -m "${2:-$SRC/songs}")
mkdir -p "$OUT"

# ---------------------------------------------------------------------------
# 1. X server, editor, keys

source "$SRC/tests/scripts/editor_run.bash"
bound 300
startX

# startEditor: a fresh editor in a folder of its own: no sound, no splash, plain window.
startEditor() {
  rm -rf "$WORK/run"
  RUN=$(newFolder run none)
  startApp "$RUN"
}

k() { keys "$@"; }  # short, for the long key lists below
down() { for _ in $(seq "$1"); do k Down; done; }
top() { k Prior Prior Prior Prior; }  # row 0: each Page Up is 16 rows, stopping at 0
# effect DIGIT P1 P2: from the effect sub-column, the effect and its two
# parameter digits on the cursor row; the cursor ends one row down, on the
# effect sub-column again.
effect() { k "$1" Up Right "$2" Up Right "$3" Left Left; }
# every STEP KEY...: types each key (which moves one row down) STEP rows apart.
every() {
  local step=$1; shift
  for key in "$@"; do k "$key"; [ "$step" -gt 1 ] && down $((step - 1)); done
}
# save NAME FILE: F11 with the name typed into the prompt; the file goes to OUT.
save() {
  k F11
  sleep 0.2
  for ((i = 0; i < ${#1}; i++)); do k "${1:i:1}"; done
  k Return
  local upper
  upper=$(echo "$1" | tr a-z A-Z)
  waitFile "$RUN/$upper.vorna"
  k F12
  waitExit 10
  cp "$RUN/$upper.vorna" "$OUT/$2"
  echo "written $OUT/$2"
}

# ---------------------------------------------------------------------------
# 2. first_steps: speed 3, order list 00 00 01 00 (about 17 seconds)
#
# Channel 0 (the detuned pulse lead) plays a tune with vibrato on its held
# E and last C, channel 2 (the bending sine) a bass line that glides up into
# its A and down into its F, channel 6 the tone drum (C) and channel 7 the
# noise drum (D) at half volume, with a roll growing louder into the next
# pattern. Pattern 01 is a copy of 00 with the arpeggio of channel 1 added.

startEditor
k F6                                  # octave 4 for the lead
every 8 z c b c v n b period          # C E G E F A G C on rows 0, 8 .. 56
top; down 26; k Right Right Right     # vibrato (4 66: 6/64 of a cycle a tick, 6/16 of a semitone deep)
effect 4 6 6; for _ in 1 2 3 4 5; do effect 4 0 0; done  # rows 26..31 (4 00: the same again)
down 26
effect 4 6 6; for _ in 1 2 3 4 5; do effect 4 0 0; done  # rows 58..63
top; k Tab Tab F5 F5                  # channel 2, octave 2
every 16 z n v b                      # C A F G on rows 0, 16, 32, 48
top; down 16; k Right Right Right     # glide into the A: 3 20, two sixteenths ... 
effect 3 2 0; effect 3 0 0; effect 3 0 0  # ... a tick, on rows 16..18 (3 00 goes on)
down 13
effect 3 2 0                          # and down into the F on row 32
top; k Tab Tab Tab Tab                # channel 6: tone drum on every beat
every 16 z z z z
top; k Tab; down 8                    # channel 7: noise drum between them
every 16 x x x x
top; k Right; down 8                  # its volume column: 20 (half) on each hit
every 16 2 2 2 2
top; down 60; k Left x Up Right 1 Up Right Right  # a quiet noise drum on row 60 ...
for _ in 1 2 3 4; do effect 6 a 1; done  # ... hit again every tick, 2 steps louder each time, to row 63

k ctrl+Tab F7                         # order list: copy all channels of pattern 00
k Down 0 1 0                          # slots 1, 2, 3 = 00 01 00 (the second digit: column 1 is odd)
k Up Up F8                            # show pattern 01 (slot 2), paste the copy
k ctrl+Tab Tab Tab                    # back on channel 7, on to channel 1 (octave 2)
top
every 16 z v b z                      # the arpeggio: C F G C
save first first_steps.vorna

# ---------------------------------------------------------------------------
# 3. eight_voices: speed 4, order list 00 01 00 01 02 (about 26 seconds)
#
# Pattern 00 brings in the voices one by one: the lead with vibrato (0),
# arpeggio (1), sine (2), the overdriven squares at a quarter volume playing
# a chord as an arpeggio (3), the second lead at half volume (4) and second
# squares (5) with a falling volume, over both drums (6, 7). Pattern 01
# changes the chord and breaks off after 48 rows; pattern 02 fades one long
# note out with a volume slide.

startEditor
k F4                                  # speed 4
k z                                   # channel 0: one C on row 0
top; k Right Right Right              # with vibrato on rows 0..3
effect 4 6 6; effect 4 0 0; effect 4 0 0; effect 4 0 0
top; k Tab; down 8
every 16 z z z                        # channel 1: arpeggio C from row 8
top; k Tab; down 16
every 16 c c                          # channel 2: E from row 16
top; k Tab F5; down 24
every 8 z z z z z                     # channel 3: squares C, octave 2, from row 24
top; k Right; down 24
every 8 1 1 1 1 1                     # at volume 10 (a quarter): they are loud
top; k Right Right; down 24           # each C as a major chord: 5 47, the note, + 4, + 7 semitones
for _ in 1 2 3 4 5; do effect 5 4 7; down 7; done
top; k Tab F6; down 32
every 8 b b b b                       # channel 4: second lead G from row 32
top; k Right Right Right; down 32
effect c 2 0                          # set volume 20 (half) on row 32
top; k Tab; down 40
k z                                   # channel 5: squares C on row 40 ...
top; k Right; down 40
k 3 2 1 0                             # ... with volume 30, 20, 10, 00 on rows 40..43
top; k Tab
every 8 z x z x z x z x               # channel 6: tone and noise drums taking turns
top; k Tab; down 4
every 8 x x x x x x x x               # channel 7: noise on the off-beats
top; k Right; down 4
every 8 1 1 1 1 1 1 1 1               # quietly (volume 10)

k ctrl+Tab F7                         # copy all of pattern 00
k Down 1 0 1 2                        # slots 1..4 = 01 00 01 02
k Up Up Up Up F8                      # show pattern 01 (slot 1), paste
k ctrl+Tab                            # back on channel 7
k Tab Tab Tab                         # channel 2 (the sine): a new chord tone
top; down 16
every 16 v v                          # F instead of E
k Tab Tab                             # channel 4
top; down 32
every 8 n n n n                       # A instead of G
k Tab Tab Tab                         # channel 7
top; down 47; k Right Right Right
effect d 0 0                          # after row 47 on to row 0 of the next slot

k ctrl+Tab Down Down Down             # slot 4: pattern 02 shown (empty)
k ctrl+Tab Tab                        # channel 0 (from 7)
top
k z                                   # one long C on row 0 ...
top; k Right Right Right; down 1      # ... fading: 3 steps down on every fourth row (A 01)
for _ in $(seq 15); do effect a 0 1; down 3; done
top; k Tab Tab Tab Tab Tab Tab
every 32 z z                          # channel 6: two tone drums
save eight eight_voices.vorna
