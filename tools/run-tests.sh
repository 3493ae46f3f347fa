#!/bin/bash
# Everything `make test` runs: the normal build and the Windows build (its
# libraries cached in build/windows-deps) with every test, the unit tests
# again under AddressSanitizer + UndefinedBehaviorSanitizer (with the renderer
# they call), the stress test under ThreadSanitizer, and each fuzz target for
# a bounded time. Any failure or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
FUZZ_SECONDS=${FUZZ_SECONDS:-30}
# Warnings fail these builds.
WERROR=-DVORNA_WERROR=ON

echo "== build"
# The Makefile's own build of build/, as make run and make install do it, so
# none of them builds again what another has built.
make --no-print-directory compile BUILD=build JOBS="$JOBS"
echo "== Windows build (the zip tests/scripts/windows_wine.sh runs under Wine)"
if command -v x86_64-w64-mingw32-g++-posix > /dev/null && command -v wine > /dev/null; then
  JOBS="$JOBS" bash tools/windows/build.sh
else
  echo "skipped: no MinGW-w64 compiler or no Wine (tools/install-deps.sh installs them)"
fi
echo "== tests"
(cd build && ctest --output-on-failure -j"$JOBS")

echo "== unit tests under ASan + UBSan"
cmake -S . -B build-asan -DVORNA_SANITIZE=ON -DVORNA_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug $WERROR > /dev/null
cmake --build build-asan -j"$JOBS" --target vorna_tests vorna-render
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ./vorna_tests --gtest_brief=1)

echo "== editor and callback sharing the song, under ThreadSanitizer"
cmake -S . -B build-tsan -DVORNA_TSAN=ON -DVORNA_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo $WERROR > /dev/null
cmake --build build-tsan -j"$JOBS" --target vorna_tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 VORNA_STRESS_SECONDS=${STRESS_SECONDS:-15} \
    ./vorna_tests --gtest_filter='Stress*' --gtest_brief=1)

echo "== fuzz targets, ${FUZZ_SECONDS}s each"
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DVORNA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo $WERROR > /dev/null
cmake --build build-fuzz -j"$JOBS"
for src in fuzz/*.cpp; do
  name=$(basename "$src" .cpp)
  work=$(mktemp -d)
  # Start from the kept corpus; new inputs go to the scratch copy only.
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
  echo "-- $name"
  ./build-fuzz/"$name" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 \
      -artifact_prefix="build-fuzz/$name-" "$work" 2>&1 | tail -n 4
  status=${PIPESTATUS[0]}
  rm -rf "$work"
  [ "$status" = 0 ] || { echo "fuzz target $name failed"; exit 1; }
done
echo "all tests passed"
