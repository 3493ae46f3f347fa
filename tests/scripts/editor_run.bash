# The one harness of every script that starts the editor or an X server
# (sourced, not run): a scratch folder, a private Xvfb, the editor started in
# a folder of its own with its own conf/, real key events through xdotool,
# screenshots, closing the window, waiting for the exit, private PulseAudio
# and JACK servers. The sourcing script sets BUILD and SRC first and may call
# `bound SECONDS`.
#
#   1. Scratch folder, clean-up, time bound
#   2. X server and the editor
#   3. Sound servers

# ---------------------------------------------------------------------------
# 1. Scratch folder, clean-up, time bound

BIN=$BUILD/vornatracker
CHECK="python3 $SRC/tests/scripts/e2e_check.py --reader $BUILD/song-json"
for tool in Xvfb xdotool python3; do
  command -v $tool > /dev/null || { echo "missing $tool (tools/install-deps.sh installs it)"; exit 1; }
done
[ -x "$BIN" ] || { echo "no $BIN"; exit 1; }
# The version the build gives the programs (CMakeLists.txt).
VERSION=$(cat "$BUILD/version.txt") && [ -n "$VERSION" ] || { echo "no version in $BUILD/version.txt"; exit 1; }

WORK=$(mktemp -d /tmp/vorna-script-XXXXXX)
XVFB_PID=
APP_PID=
PULSE_PID=
JACK_PID=
JACK_NAME=
JACK_LOCK_FD=
WATCHDOG=

cleanup() {
  [ -n "$WATCHDOG" ] && kill "$WATCHDOG" 2> /dev/null || true
  # Reaped here, so the shell does not announce each one as killed.
  { [ -n "$APP_PID" ] && kill -KILL "$APP_PID" && wait "$APP_PID"; } 2> /dev/null || true
  { [ -n "$PULSE_PID" ] && kill -KILL "$PULSE_PID" && wait "$PULSE_PID"; } 2> /dev/null || true
  { [ -n "$JACK_PID" ] && kill -KILL "$JACK_PID" && wait "$JACK_PID"; } 2> /dev/null || true
  { [ -n "$XVFB_PID" ] && kill "$XVFB_PID" && wait "$XVFB_PID"; } 2> /dev/null || true
  # A killed JACK server leaves its shared memory and semaphores behind.
  [ -n "$JACK_NAME" ] && rm -f /dev/shm/jack_sem.0_"$JACK_NAME"_* /dev/shm/jack_"$JACK_NAME"_* 2> /dev/null || true
  [ -n "${KEEP_WORK:-}" ] && echo "kept $WORK" || rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  for f in "$WORK"/*/out.txt "$WORK"/*/err.txt "$WORK"/*.log; do
    [ -f "$f" ] && { echo "-- $f"; tail -n 20 "$f"; }
  done
  exit 1
}

# bound SECONDS: the whole script ends (failing) after that long, so a hung
# step cannot hold the suite.
bound() {
  local main=$$
  ( trap 'kill $! 2> /dev/null; exit 0' TERM; sleep "$1" > /dev/null 2>&1 & wait; echo "FAIL: timed out after $1 s"; kill -TERM $main ) &
  WATCHDOG=$!
}

# waitUntil TENTHS COMMAND...: polls the command every 0.1 s.
waitUntil() {
  local n=$1; shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done
  "$@"
}

# ---------------------------------------------------------------------------
# 2. X server and the editor

# newFolder NAME DRIVER: a working folder with its own configuration:
# the given sound driver, 512-frame blocks, windowed, no splash.
newFolder() {
  local dir=$WORK/$1
  mkdir -p "$dir/conf/audio" "$dir/conf/video"
  echo "$2" > "$dir/conf/audio/driver.conf"
  echo 512 > "$dir/conf/audio/dsound_buffersize.conf"
  echo 0 > "$dir/conf/video/sdl_fullscreen.conf"
  echo 0 > "$dir/conf/video/splashscreen.conf"
  echo 1 > "$dir/conf/video/scale.conf"
  echo "$dir"
}

# startX [WxH]: a private X server (640x480 unless told) on a free display
# number; no reset when the last client leaves, or a client connecting just
# then would be refused. Its screen is kept as a file for screenshot.
startX() {
  mkdir -p "$WORK/fb"
  Xvfb -displayfd 3 -screen 0 "${1:-640x480}x24" -nolisten tcp -noreset -fbdir "$WORK/fb" \
      3> "$WORK/display" 2> "$WORK/xvfb.log" &
  XVFB_PID=$!
  waitUntil 100 test -s "$WORK/display" || fail "Xvfb did not start"
  export DISPLAY=:$(head -n 1 "$WORK/display")
}

# The window's title is "VornaTracker" and the version, nothing else.
findWindow() { WIN=$(xdotool search --name "^VornaTracker $VERSION\$" 2> /dev/null | head -n 1) && [ -n "$WIN" ]; }
appAlive() { kill -0 "$APP_PID" 2> /dev/null; }

# startApp DIR [ARGUMENT...]: runs the editor ($BIN) there (standard output
# and error to out.txt, err.txt) and waits for its window, then gives it the
# keyboard.
startApp() {
  local dir=$1
  cd "$dir"
  shift
  "$BIN" "$@" > out.txt 2> err.txt &
  APP_PID=$!
  cd - > /dev/null
  WIN=
  for _ in $(seq 150); do
    findWindow && break
    appAlive || fail "the editor ended before its window opened ($dir)"
    sleep 0.1
  done
  [ -n "$WIN" ] || fail "no window titled VornaTracker $VERSION ($dir)"
  xdotool windowfocus --sync "$WIN"
  sleep 0.3
}

# keys KEY...: each key held 60 ms, so its press and release never fall in
# one 10 ms tick (and far below the 440 ms repeat), then 30 ms apart.
keys() {
  for k in "$@"; do
    xdotool keydown "$k"
    sleep 0.06
    xdotool keyup "$k"
    sleep 0.03
  done
}

# closeWindow: the window's close button, as a window manager sends it.
closeWindow() { python3 "$SRC/tests/scripts/x11_close.py" "$WIN"; }

# screenshot OUT.png [X Y W H]: the X screen as it is now, as a PNG.
screenshot() { python3 "$SRC/tools/xwd_png.py" "$WORK/fb/Xvfb_screen0" "$@"; }

# waitExit SECONDS: the editor ends within that time, with status 0.
waitExit() {
  local status
  waitUntil $(($1 * 10)) eval '! appAlive' || fail "the editor still ran $1 s after being told to quit"
  set +e; wait "$APP_PID"; status=$?; set -e
  APP_PID=
  [ "$status" = 0 ] || fail "the editor ended with status $status"
}

waitFile() { waitUntil 100 test -f "$1" || fail "$1 was not written"; }

# ---------------------------------------------------------------------------
# 3. Sound servers
#
# Each server keeps its files in the scratch folder; the editor is pointed at
# it (and only at it) through the environment.

# A PulseAudio daemon with a null sink on a private socket.
PULSE_STARTS=0
startPulse() {
  # A fresh folder each time: a killed server leaves its socket file behind.
  PULSE_STARTS=$((PULSE_STARTS + 1))
  local dir=$WORK/pulse$PULSE_STARTS
  mkdir -p "$dir/home" "$dir/run"
  chmod 700 "$dir/home" "$dir/run"
  cat > "$dir/server.pa" << EOF
load-module module-null-sink sink_name=vorna_null
load-module module-native-protocol-unix socket=$dir/native auth-anonymous=1
EOF
  export HOME=$dir/home XDG_RUNTIME_DIR=$dir/run PULSE_SERVER=unix:$dir/native
  export JACK_DEFAULT_SERVER=vorna-absent-$$
  env -u PULSE_SERVER pulseaudio --daemonize=no --system=false --exit-idle-time=-1 -n \
      --disable-shm=yes --use-pid-file=no --log-target=stderr -F "$dir/server.pa" \
      > "$WORK/pulse.out" 2> "$WORK/pulse.log" &
  PULSE_PID=$!
  waitUntil 150 eval 'pactl info > /dev/null 2>&1' || fail "PulseAudio did not come up"
}

# startJack PERIOD [realtime]: a JACK server on its dummy driver at 44100 Hz,
# its threads (and its clients' audio threads) real-time scheduled when asked
# and allowed, as a user's JACK set-up would be. JACK keeps a
# machine-wide table of server names and reclaims a dead server's entry only
# for a new server of the same name, so the scripts share one name, taken in
# turn through a lock file.
startJack() {
  local dir=$WORK/jack
  mkdir -p "$dir"
  exec {JACK_LOCK_FD}> /tmp/vorna-jack-script.lock
  flock -w 300 "$JACK_LOCK_FD" || fail "the JACK script server name stayed in use"
  JACK_NAME=vorna-script
  rm -f /dev/shm/jack_sem.0_"$JACK_NAME"_* /dev/shm/jack_"$JACK_NAME"_* 2> /dev/null || true
  export HOME=$dir XDG_RUNTIME_DIR=$dir JACK_DEFAULT_SERVER=$JACK_NAME
  export PULSE_SERVER=unix:$dir/no-pulse-here
  JACK_SCHEDULING=--no-realtime
  [ "${2:-}" = realtime ] && chrt -f 10 true 2> /dev/null && JACK_SCHEDULING=--realtime
  JACK_NO_AUDIO_RESERVATION=1 jackd -n "$JACK_NAME" $JACK_SCHEDULING -d dummy -r 44100 -p "$1" \
      > "$WORK/jackd.log" 2>&1 &
  JACK_PID=$!
  # The server's own client exists once its driver runs.
  waitUntil 150 eval 'ls /dev/shm/jack_sem.0_${JACK_NAME}_system > /dev/null 2>&1' ||
      fail "jackd did not come up"
}
