#!/bin/bash
# make windows: cross-builds vornatracker.exe and vorna-render.exe for 64-bit
# Windows in build/windows (libraries from build-deps.sh's cache) and packs
# build/VornaTracker-VERSION-win64.zip: both programs, conf/ with the default
# settings, splash.dat, the demo songs and a short README. The programs are
# linked statically: no DLL travels with them.
# Usage: build.sh   (JOBS sets the parallel jobs, default 2)
set -euo pipefail
cd "$(dirname "$0")/../.."
JOBS=${JOBS:-2}
DEPS=$(bash tools/windows/build-deps.sh build/windows-deps)
# New libraries: a fresh build folder, as CMake keeps what pkg-config said.
[ "$(cat build/windows/deps.txt 2> /dev/null)" = "$DEPS" ] || rm -rf build/windows
mkdir -p build/windows
echo "$DEPS" > build/windows/deps.txt
cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE="$PWD/tools/windows/mingw64.cmake" -DVORNA_WINDOWS_DEPS="$DEPS" \
    -DCMAKE_BUILD_TYPE=Release -DVORNA_WERROR=ON -DVORNA_TESTS=ON -DVORNA_BENCH=OFF > build/windows-cmake.log ||
  { cat build/windows-cmake.log >&2; exit 1; }
cmake --build build/windows -j"$JOBS" --target vornatracker vorna-render vorna_tests

version=$(cat build/windows/version.txt)  # the one CMakeLists.txt sets
name=VornaTracker-$version-win64
stage=build/windows/$name
rm -rf "$stage" "build/$name.zip"
mkdir -p "$stage"
cp build/windows/vornatracker.exe build/windows/vorna-render.exe splash.dat "$stage/"
cp -r conf songs "$stage/"
cp tools/windows/README.txt "$stage/"
# Windows' own line ends in the text files a user opens in Notepad.
sed -i 's/$/\r/' "$stage/README.txt"
(cd build/windows && zip -qr "../$name.zip" "$name")
echo "build/$name.zip"
