#!/bin/bash
# The layers run one way: platform <- song <- audio <- ui <- app, the renderer
# on song and audio alone. Includes: tools/check-layers.sh passes on the tree and fails on
# a copy with one upward include planted. Links: no library needs a symbol of
# a library above it, and vorna-render carries neither SDL nor ui/ or app/ code.
# Usage: layers.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
WORK=$(mktemp -d /tmp/vorna-layers-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

bash "$SRC/tools/check-layers.sh" "$SRC" || fail "the tree has an upward include"

# Each planted include is one a careless edit could add: every layer reaching
# up one step or more, a neighbour-style include, SDL below the window; inside
# app/, a file reaching up or sideways in the order of its files (the history
# calling recovery, the keys the main loop) and a new file given no place in it.
while read -r file line; do
  rm -rf "$WORK/tree"
  mkdir "$WORK/tree"
  cp -r "$SRC/platform" "$SRC/song" "$SRC/audio" "$SRC/ui" "$SRC/app" "$SRC/render" "$SRC/tools" "$WORK/tree/"
  echo "$line" >> "$WORK/tree/$file"
  set +e
  out=$(bash "$SRC/tools/check-layers.sh" "$WORK/tree")
  status=$?
  set -e
  [ "$status" = 1 ] || fail "planted '$line' in $file: the check exited $status"
  grep -q "^$file:" <<< "$out" || fail "planted '$line' in $file: the check said: $out"
done << 'PLANTED'
platform/platform_posix.cpp #include "song/safe_file.h"
platform/platform.h #include <SDL.h>
song/song.cpp #include "audio/sequencer.h"
song/codec.h #include "ui/draw.h"
audio/export.cpp #include "ui/status.h"
audio/sequencer.h #include <SDL.h>
ui/frame.cpp #include "app/main_loop.h"
ui/draw.h # include "app/keys.h"
render/vorna_render.cpp #include "ui/palette.h"
render/render_output.h #include <SDL/SDL.h>
render/render_output.cpp #include "app/config.h"
app/history.cpp #include "app/recovery.h"
app/keys.cpp #include "app/main_loop.h"
app/loop_state.h #include "app/keys.h"
app/document.cpp #include "file_commands.h"
app/file_commands.cpp #include "app/recovery_startup.h"
app/undo_tools.cpp #include "app/history.h"
PLANTED
echo "ok: the check names each planted upward include"

# definedIn LIB: the symbols a library defines for others (weak ones, such as
# template copies every user may carry, are left out).
definedIn() { nm -g --defined-only "$1" 2> /dev/null | awk 'NF == 3 && $2 ~ /^[TDBR]$/ { print $3 }' | sort -u; }
neededBy() { nm -g --undefined-only "$1" 2> /dev/null | awk '{ print $NF }' | sort -u; }
order=(platform song audio ui app)
for ((i = 0; i < ${#order[@]}; i++)); do
  lib=$BUILD/libvorna_${order[i]}.a
  [ -f "$lib" ] || fail "no $lib"
  neededBy "$lib" > "$WORK/needed"
  for ((j = i + 1; j < ${#order[@]}; j++)); do
    definedIn "$BUILD/libvorna_${order[j]}.a" > "$WORK/above"
    up=$(comm -12 "$WORK/needed" "$WORK/above" | head -n 5)
    [ -z "$up" ] || fail "${order[i]} needs symbols of ${order[j]}: $up"
  done
done
# The stream stands beside audio: it needs nothing of ui/ or app/ either.
neededBy "$BUILD/libvorna_stream.a" > "$WORK/needed"
for upper in ui app; do
  definedIn "$BUILD/libvorna_$upper.a" > "$WORK/above"
  up=$(comm -12 "$WORK/needed" "$WORK/above" | head -n 5)
  [ -z "$up" ] || fail "the stream needs symbols of $upper: $up"
done
echo "ok: no library needs a symbol of a library above it"

RENDER=$BUILD/vorna-render
[ -x "$RENDER" ] || fail "no $RENDER"
readelf -d "$RENDER" | grep NEEDED > "$WORK/libs"
grep -qi sdl "$WORK/libs" && fail "vorna-render links SDL: $(grep -i sdl "$WORK/libs")"
grep -q libsndfile "$WORK/libs" || fail "the NEEDED list is not what readelf shows: $(cat "$WORK/libs")"
nm "$RENDER" | awk '{ print $NF }' | sort -u > "$WORK/render"
definedIn "$BUILD/libvorna_ui.a" > "$WORK/ui"
definedIn "$BUILD/libvorna_app.a" >> "$WORK/ui"
[ -s "$WORK/ui" ] || fail "no symbols read from the ui and app libraries"
up=$(sort -u "$WORK/ui" | comm -12 "$WORK/render" - | head -n 5)
[ -z "$up" ] || fail "vorna-render carries ui/ or app/ code: $up"
echo "ok: vorna-render links neither SDL nor ui/ or app/ code"
