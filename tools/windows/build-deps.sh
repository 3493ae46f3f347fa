#!/bin/bash
# Cross-builds the libraries of the Windows build (SDL 1.2, RtAudio with
# DirectSound, libsndfile with FLAC, Ogg Vorbis and Opus, and GoogleTest for
# the unit tests) from Debian's own
# source packages, at the versions the Linux build uses, into a cache folder
# named after those versions, this script and the compiler: a second run
# with nothing changed only prints the folder.
#
# Usage: build-deps.sh [CACHE_ROOT]   (default build/windows-deps)
# Prints the folder with include/, lib/ and lib/pkgconfig/ on standard output;
# everything else goes to standard error. Needs the packages of
# tools/install-deps.sh; the sources come through apt-get with a private
# configuration (a deb-src list and apt state of its own), so the machine's
# apt set-up is left as it is.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
CACHE=$(mkdir -p "${1:-$HERE/../../build/windows-deps}" && cd "${1:-$HERE/../../build/windows-deps}" && pwd)
JOBS=${JOBS:-2}
TRIPLE=x86_64-w64-mingw32
CC=$TRIPLE-gcc-posix
CXX=$TRIPLE-g++-posix

say() { echo "windows-deps: $*" >&2; }

# The source package of each library, at the version of the Linux build's
# development package: the Windows build then has the same libraries.
DEV_PACKAGES="libsdl1.2-dev librtaudio-dev libogg-dev libopus-dev libvorbis-dev libflac-dev libsndfile1-dev libgtest-dev"
versions=""
for dev in $DEV_PACKAGES; do
  line=$(dpkg-query -W -f='${source:Package}=${source:Version}' "$dev" 2>/dev/null) || {
    say "$dev is not installed (run tools/install-deps.sh as root)"
    exit 1
  }
  versions="$versions $line"
done
command -v "$CXX" > /dev/null || { say "$CXX is missing (run tools/install-deps.sh as root)"; exit 1; }

key=$( { echo "$versions"; "$CXX" --version | head -n 1; cat "$HERE/build-deps.sh" "$HERE/mingw64.cmake"; } | sha1sum | cut -c1-12)
PREFIX=$CACHE/$key
if [ -f "$PREFIX/.complete" ]; then
  echo "$PREFIX"
  exit 0
fi

say "cross-building$versions into $PREFIX"
# Folders of other versions are out of date.
find "$CACHE" -mindepth 1 -maxdepth 1 -exec rm -rf {} +
WORK=$CACHE/work-$key
mkdir -p "$PREFIX" "$WORK/apt/lists/partial" "$WORK/apt/cache/archives/partial" "$WORK/apt/parts" "$WORK/src"
started=$SECONDS

# ---- the sources: a private apt configuration with deb-src entries ------------
cat > "$WORK/apt/sources.list" <<EOF
deb-src http://deb.debian.org/debian bookworm main
deb-src http://deb.debian.org/debian bookworm-updates main
deb-src http://deb.debian.org/debian-security bookworm-security main
EOF
APT=(apt-get -q -o "Dir::Etc::SourceList=$WORK/apt/sources.list" -o "Dir::Etc::SourceParts=$WORK/apt/parts"
     -o "Dir::State::Lists=$WORK/apt/lists" -o "Dir::Cache=$WORK/apt/cache" -o "APT::Sandbox::User=root")
"${APT[@]}" update > "$WORK/apt.log" 2>&1 || { cat "$WORK/apt.log" >&2; exit 1; }
# shellcheck disable=SC2086
(cd "$WORK/src" && "${APT[@]}" source --download-only $versions >> "$WORK/apt.log" 2>&1) ||
  { cat "$WORK/apt.log" >&2; exit 1; }
for dsc in "$WORK"/src/*.dsc; do
  (cd "$WORK/src" && dpkg-source -x "$dsc" >> "$WORK/apt.log" 2>&1) || { cat "$WORK/apt.log" >&2; exit 1; }
done
src() { find "$WORK/src" -maxdepth 1 -type d -name "$1-*" | head -n 1; }

# ---- the libraries ----------------------------------------------------------------
# Each build's output goes to a log, shown only when the build fails.
# (set -e holds inside the subshell only when its caller does not test it.)
step() {
  local name=$1 status begun=$SECONDS; shift
  set +e
  (set -e; "$@") > "$WORK/$name.log" 2>&1
  status=$?
  set -e
  if [ "$status" != 0 ]; then
    tail -n 40 "$WORK/$name.log" >&2
    say "$name failed (log: $WORK/$name.log)"
    exit 1
  fi
  say "$name: $((SECONDS - begun)) s"
}

# SDL 1.2, static. Standard output stays the console's (no stdout.txt), and
# only what the editor uses: video, events, timer, threads.
build_sdl() {
  cd "$(src libsdl1.2)"
  ./configure --host=$TRIPLE CC=$CC --prefix="$PREFIX" --disable-shared --enable-static \
      --disable-stdio-redirect --disable-audio --disable-cdrom --disable-joystick
  make -j"$JOBS"
  make install
}

# RtAudio is one file: built here with DirectSound alone. (Its WASAPI back end
# in 5.2 dereferences a null pointer when it cannot make a resampler.)
build_rtaudio() {
  cd "$(src rtaudio)"
  mkdir -p "$PREFIX/include/rtaudio" "$PREFIX/lib"
  $CXX -O2 -std=c++11 -D__WINDOWS_DS__ -c RtAudio.cpp -o RtAudio.o
  $TRIPLE-ar rcs "$PREFIX/lib/librtaudio.a" RtAudio.o
  cp RtAudio.h "$PREFIX/include/rtaudio/"
}

auto_lib() {
  local dir=$1; shift
  cd "$(src "$dir")"
  ./configure --host=$TRIPLE CC=$CC --prefix="$PREFIX" --disable-shared --enable-static "$@"
  make -j"$JOBS"
  make install
}

cmake_lib() {
  local dir=$1; shift
  cmake -S "$(src "$dir")" -B "$WORK/build-$dir" -DCMAKE_TOOLCHAIN_FILE="$HERE/mingw64.cmake" \
      -DVORNA_WINDOWS_DEPS="$PREFIX" -DCMAKE_INSTALL_PREFIX="$PREFIX" -DCMAKE_BUILD_TYPE=Release \
      -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF "$@"
  cmake --build "$WORK/build-$dir" -j"$JOBS"
  cmake --install "$WORK/build-$dir"
}

step sdl build_sdl
step rtaudio build_rtaudio
step ogg cmake_lib libogg -DINSTALL_DOCS=OFF
# Opus 1.3.1's CMake files lack one of theirs; its configure script is complete.
step opus auto_lib opus --disable-doc --disable-extra-programs
step vorbis cmake_lib libvorbis
step flac cmake_lib flac -DBUILD_CXXLIBS=OFF -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOCS=OFF \
    -DINSTALL_MANPAGES=OFF -DWITH_OGG=ON
# GoogleTest, for the unit tests that run as one Windows program under Wine.
step googletest cmake_lib googletest -DBUILD_GMOCK=OFF
# FLAC__NO_DLL: the static FLAC, not a DLL's imports.
step sndfile cmake_lib libsndfile -DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DENABLE_CPACK=OFF \
    -DENABLE_MPEG=OFF -DENABLE_EXTERNAL_LIBS=ON -DCMAKE_C_FLAGS=-DFLAC__NO_DLL

# ---- pkg-config files ----------------------------------------------------------------
# Written here whole: static libraries need every library below them on the
# link line, which Debian's sdl.pc and libsndfile's sndfile.pc keep apart.
# SDLmain is the program's entry: it hands the module handle to SDL and
# calls main; no -mwindows, the editor is a console program.
pc() {
  cat > "$PREFIX/lib/pkgconfig/$1.pc" <<EOF
prefix=$PREFIX
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: $1
Description: $1, cross-built for Windows
Version: $2
Libs: -L\${libdir} $3
Cflags: -I\${includedir} $4
EOF
}
version_of() { echo "$versions" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
pc sdl "$(version_of libsdl1.2)" "-lmingw32 -lSDLmain -lSDL -luser32 -lgdi32 -lwinmm -ldxguid" "-I\${includedir}/SDL"
# RtAudio's header declares the back ends' members only when told which.
pc rtaudio "$(version_of rtaudio)" "-lrtaudio -ldsound -lole32 -lwinmm -luuid" "-I\${includedir}/rtaudio -D__WINDOWS_DS__"
pc sndfile "$(version_of libsndfile)" "-lsndfile -lFLAC -lvorbisenc -lvorbis -lopus -logg -lssp" ""
echo "$versions" | tr ' ' '\n' | sed '/^$/d' > "$PREFIX/versions.txt"

rm -rf "$WORK"
touch "$PREFIX/.complete"
say "done in $((SECONDS - started)) s"
echo "$PREFIX"
