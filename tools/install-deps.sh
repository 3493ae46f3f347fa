#!/bin/bash
# Installs the Debian packages the build and the tests need, only those missing.
set -e
PACKAGES="cmake make g++ pkg-config libsdl1.2-dev librtaudio-dev libgtest-dev libbenchmark-dev
          clang-14 libclang-rt-14-dev xvfb xdotool x11-utils jackd2 pulseaudio pulseaudio-utils python3
          libsndfile1-dev flac vorbis-tools sox groff-base desktop-file-utils
          g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev zip unzip"
missing=""
for p in $PACKAGES; do
  dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" != 0 ]; then
  echo "missing packages:$missing (run as root, or install them with apt-get)" >&2
  exit 1
fi
echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends $missing
