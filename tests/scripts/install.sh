#!/bin/bash
# make install into a staging folder (DESTDIR), building nothing again after
# make test's build, then both installed programs
# run from another folder on an installed demo song: the editor takes its
# settings from the user's folder and, for what that lacks, from the installed
# share folder; the manual pages and the desktop entry are well formed; make
# uninstall takes everything away again.
# Usage: install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
source "$SRC/tests/scripts/editor_run.bash"
bound 180

STAGE=$WORK/stage
PREFIX=/opt/vorna
ROOT=$STAGE$PREFIX
# make install builds with make run's settings; after the test build (make test's)
# it builds nothing again. From a shell where nothing of make test is set.
built=$(stat -c %Y "$BUILD/vornatracker" "$BUILD/vorna-render")
env -u VORNA_WERROR make -s -C "$SRC" install BUILD="$BUILD" DESTDIR="$STAGE" PREFIX="$PREFIX" > "$WORK/install.log" 2>&1 ||
  fail "make install: $(tail -n 20 "$WORK/install.log")"
[ "$(stat -c %Y "$BUILD/vornatracker" "$BUILD/vorna-render")" = "$built" ] ||
  fail "make install built the programs again: make's build settings differ from make test's"
for f in bin/vornatracker bin/vorna-render share/vornatracker/splash.dat share/vornatracker/songs/first_steps.vorna \
         share/vornatracker/conf/audio/driver.conf share/vornatracker/conf/audio/dsound_buffersize.conf \
         share/vornatracker/conf/video/sdl_fullscreen.conf share/vornatracker/conf/video/splashscreen.conf \
         share/vornatracker/conf/video/scale.conf share/man/man1/vornatracker.1 share/man/man1/vorna-render.1 \
         share/applications/vornatracker.desktop share/mime/packages/vornatracker.xml; do
  [ -f "$ROOT/$f" ] || fail "make install did not put $f in place"
done
[ -e "$PREFIX" ] && fail "make install wrote outside DESTDIR ($PREFIX exists)"
echo "ok: make install staged every file under DESTDIR"

# The manual pages format without warnings; the desktop entry opens a song file given to it.
for page in vornatracker vorna-render; do
  warnings=$(groff -man -Tutf8 -ww -z "$ROOT/share/man/man1/$page.1" 2>&1)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
  grep -q "^\.TH .* \"VornaTracker $VERSION\" " "$ROOT/share/man/man1/$page.1" || fail "$page.1 does not name version $VERSION"
done
if command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$ROOT/share/applications/vornatracker.desktop" || fail "the desktop entry is not valid"
fi
grep -qx 'Exec=vornatracker %f' "$ROOT/share/applications/vornatracker.desktop" &&
  grep -qx 'MimeType=application/x-vornatracker-song;' "$ROOT/share/applications/vornatracker.desktop" ||
  fail "the desktop entry does not open a song file"
echo "ok: manual pages and desktop entry"

# Another folder, with nothing of ours in it.
HERE=$WORK/elsewhere
mkdir -p "$HERE"
cd "$HERE"
export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/xdg
mkdir -p "$HOME"
SONG=$ROOT/share/vornatracker/songs/first_steps.vorna

# The renderer: the installed demo song, 4 slots x 64 rows x 3 ticks x 1000 frames.
"$ROOT/bin/vorna-render" "$SONG" -o song.wav --quiet || fail "installed vorna-render failed"
[ "$(stat -c %s song.wav)" = $((44 + 2 * 768000)) ] || fail "installed vorna-render wrote $(stat -c %s song.wav) bytes"
[ "$("$ROOT/bin/vorna-render" --version)" = "vorna-render $VERSION" ] || fail "installed vorna-render --version"
echo "ok: the installed vorna-render renders the installed demo song"

# The editor: no sound and no animation from the user's folder; the scale
# from the share folder, changed there to 2, so the window shows where it came from.
mkdir -p "$XDG_CONFIG_HOME/vornatracker/conf/audio" "$XDG_CONFIG_HOME/vornatracker/conf/video"
echo none > "$XDG_CONFIG_HOME/vornatracker/conf/audio/driver.conf"
echo 0 > "$XDG_CONFIG_HOME/vornatracker/conf/video/splashscreen.conf"
echo 2 > "$ROOT/share/vornatracker/conf/video/scale.conf"
startX 1280x1024
BIN=$ROOT/bin/vornatracker
startApp "$HERE" "$SONG"
xwininfo -id "$WIN" | grep -q 'geometry 1280x960' || fail "the window is not twice 640x480: $(xwininfo -id "$WIN" | grep geometry)"
[ -s "$HERE/err.txt" ] && fail "the editor said: $(cat "$HERE/err.txt")"  # driver none: not a word about sound
keys F9                         # export beside the song: the demo song's length proves it was opened
waitFile "${SONG%.vorna}.wav"
[ "$(stat -c %s "${SONG%.vorna}.wav")" = $((44 + 2 * 768000)) ] || fail "the editor did not open the demo song"
rm "${SONG%.vorna}.wav"
keys F12
waitExit 10
ls "$HERE/.vorna-recovery/"*.recovery > /dev/null 2>&1 && fail "an unchanged song left a recovery copy"
grep -vqxE '[0-9]+' "$HERE/out.txt" && fail "standard output holds more than scan codes"
echo "ok: the installed editor opens the installed demo song with settings from the user and share folders"

# make uninstall: nothing of ours is left.
make -s -C "$SRC" uninstall BUILD="$BUILD" DESTDIR="$STAGE" > "$WORK/uninstall.log" 2>&1 ||
  fail "make uninstall: $(tail -n 20 "$WORK/uninstall.log")"
left=$(find "$STAGE" -type f)
[ -z "$left" ] || fail "make uninstall left: $left"
[ -e "$ROOT/share/vornatracker" ] && fail "make uninstall left the share folder"
echo "install: all passed"
