#!/bin/sh
# Builds the Debian package from a Release tree in build-release/ and prints
# its path. Install it with: apt install ./<printed path>
set -eu
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1
dir=build-release

# Debian's hardening flags (fortified calls, stack protector, full RELRO with
# immediate binding, PIE).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DQM45_BUILD_TESTS=OFF -DQM45_BUILD_BENCH=OFF >&2
cmake --build "$dir" -j"$(nproc)" >&2
(cd "$dir" && cpack -G DEB >&2)
ls "$PWD/$dir"/qm45_*.deb
