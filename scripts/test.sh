#!/bin/sh
# Builds everything and runs every test headless: the normal build, then the
# test suites again under AddressSanitizer and UndefinedBehaviorSanitizer, the
# HID reader suites under ThreadSanitizer, then the Debian package with
# lintian, and last the fuzz targets for a minute each (FUZZ_SECONDS sets
# another time per target).
set -eu
cd "$(dirname "$0")/.."
# Compiler cache hits from any checkout: paths are hashed relative to it.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

sh scripts/build.sh
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM45_SANITIZE=ON -DQM45_BUILD_BENCH=OFF
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"

sh scripts/tsan.sh build-tsan

# The Debian package: built from a Release tree and checked by lintian.
deb=$(sh scripts/package.sh)
echo "Package: $deb ($(du -k "$deb" | cut -f1) KiB)"
lintian --fail-on error,warning "$deb"

sh scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
