#!/bin/bash
# Bad configuration end to end: each of the four settings files, and all of
# them at once with the scale setting too, missing, empty, binary garbage, a
# huge number, a negative number, or a folder in its place. The editor must
# start every time with the setting's default (sound through the default back
# end, 512-frame blocks, a 640x480 window rather than full screen, the
# start-up animation on), show its window titled "VornaTracker <version>" and quit
# on F12 with status 0.
# Usage: bad_config.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
source "$SRC/tests/scripts/editor_run.bash"
bound 240
T0=$(date +%s)

# A screen larger than the window: full screen then shows as a 640x480
# window centred on it, a plain window sits at the corner.
startX 1024x768
# A sound server of our own, so that the block size the stream gets is seen
# in the editor's counts at quit.
STREAMS=1
if command -v pulseaudio > /dev/null; then startPulse; else STREAMS=0; echo "note: no pulseaudio, sound not checked"; fi
export JACK_NO_START_SERVER=1
export VORNA_AUDIO_STATS=1

# spoil KIND FILE: puts one kind of bad content where a settings file belongs.
spoil() {
  local kind=$1 file=$2
  rm -rf "$file"
  case $kind in
    missing) ;;
    empty) : > "$file" ;;
    # No white space, so the whole of it is one token: control characters,
    # an escape sequence, a NUL, bytes above 127.
    garbage) python3 -c 'import sys, random
r = random.Random(7)
junk = bytes([0, 1, 27]) + b"[2J" + bytes(r.choice([b for b in range(256) if b not in b" \t\n\v\f\r"]) for _ in range(3000))
sys.stdout.buffer.write(junk)' > "$file" ;;
    huge) echo 99999999999999999999999999 > "$file" ;;
    negative) echo -7 > "$file" ;;
    folder) mkdir "$file" ;;
  esac
}

fullScreenShown() { xwininfo -root -tree | grep -q '640x480+192+144 '; }

# check NAME DIR SPLASH FULL AUDIO: runs the editor in DIR. SPLASH 1 = the
# animation must play (the first key only skips it), FULL 1 = full screen;
# AUDIO: "512" a stream of 512-frame blocks on the server, "stream" any
# stream, "silent" no stream, with one line saying why, "none" no stream
# (the driver "none" asks for none).
check() {
  local name=$1 dir=$2 splash=$3 full=$4 audio=$5
  cp "$SRC/splash.dat" "$dir/"
  startApp "$dir"
  if [ "$full" = 1 ]; then
    fullScreenShown || fail "$name: not full screen"
  else
    fullScreenShown && fail "$name: full screen"
    xwininfo -id "$WIN" | grep -q 'geometry 640x480' || fail "$name: the window is not 640x480: $(xwininfo -id "$WIN" | grep geometry)"
  fi
  keys Down F12                # Down: skips the animation, or moves the cursor
  waitExit 10
  local expected
  if [ "$splash" = 1 ]; then expected="88 "; else expected="80 88 "; fi
  local seen
  seen=$(grep -xE '[0-9]+' "$dir/out.txt" | tr '\n' ' ' || true)
  [ "$seen" = "$expected" ] || fail "$name: keys seen by the editor: '$seen', expected '$expected' (splash $splash)"
  local stats
  stats=$(grep -E '^audio: [0-9]+ blocks' "$dir/err.txt" || true)
  case $audio in
    512) [ "$STREAMS" = 0 ] || echo "$stats" | grep -q '(pulse, 512 frames per block)' ||
           fail "$name: expected 512-frame blocks on the server: $(cat "$dir/err.txt")" ;;
    stream) [ "$STREAMS" = 0 ] || [ -n "$stats" ] || fail "$name: expected a stream: $(cat "$dir/err.txt")" ;;
    silent) [ -z "$stats" ] || fail "$name: a stream was opened"
            [ "$(grep -c 'running without sound' "$dir/err.txt")" = 1 ] || fail "$name: no one line saying why it is silent" ;;
    none) [ -z "$stats" ] || fail "$name: a stream was opened" ;;
  esac
  # Whatever the bytes in the file, what reaches the terminal is plain text.
  if LC_ALL=C grep -q '[^[:print:][:space:]]' "$dir/err.txt"; then fail "$name: control bytes on standard error"; fi
}

KINDS="missing empty garbage huge negative folder"
runs=0

# -- controls: good values are obeyed (the checks can tell both ways)
dir=$(newFolder good-window pulse)
echo 256 > "$dir/conf/audio/dsound_buffersize.conf"
check good-window "$dir" 0 0 stream
grep -q '(pulse, 256 frames per block)' "$dir/err.txt" || [ "$STREAMS" = 0 ] || fail "good-window: the 256-frame setting was not used"
dir=$(newFolder good-full none)
echo 1 > "$dir/conf/video/sdl_fullscreen.conf"
echo 1 > "$dir/conf/video/splashscreen.conf"
check good-full "$dir" 1 1 none
runs=2
echo "ok: good settings obeyed (256-frame blocks, window; full screen, animation)"

for kind in $KINDS; do
  # The driver: no word in the file means the default back end; a word
  # that names no back end means no sound, said once.
  dir=$(newFolder "driver-$kind" pulse)
  spoil "$kind" "$dir/conf/audio/driver.conf"
  case $kind in missing | empty | folder) want=stream ;; *) want=silent ;; esac
  check "driver-$kind" "$dir" 0 0 "$want"

  dir=$(newFolder "buffer-$kind" pulse)
  echo 1024 > "$dir/conf/audio/dsound_buffersize.conf"
  spoil "$kind" "$dir/conf/audio/dsound_buffersize.conf"
  check "buffer-$kind" "$dir" 0 0 512

  dir=$(newFolder "fullscreen-$kind" none)
  echo 1 > "$dir/conf/video/sdl_fullscreen.conf"
  spoil "$kind" "$dir/conf/video/sdl_fullscreen.conf"
  check "fullscreen-$kind" "$dir" 0 0 none

  dir=$(newFolder "splash-$kind" none)
  spoil "$kind" "$dir/conf/video/splashscreen.conf"
  check "splash-$kind" "$dir" 1 0 none

  # All four at once, and the scale.
  dir=$(newFolder "all-$kind" pulse)
  for key in audio/driver audio/dsound_buffersize video/sdl_fullscreen video/splashscreen video/scale; do
    spoil "$kind" "$dir/conf/$key.conf"
  done
  case $kind in missing | empty | folder) want=stream ;; *) want=silent ;; esac
  check "all-$kind" "$dir" 1 0 "$want"
  runs=$((runs + 5))
  echo "ok: $kind settings files: defaults used"
done

# -- no conf folder at all
dir=$WORK/no-conf
mkdir -p "$dir"
check no-conf "$dir" 1 0 stream
runs=$((runs + 1))
echo "bad config: all passed ($runs runs in $(($(date +%s) - T0)) s)"
