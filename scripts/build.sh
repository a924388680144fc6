#!/bin/sh
# Configures and builds the program, its tools, tests and benchmarks into build/.
set -eu
cd "$(dirname "$0")/.."
# Compiler cache hits from any checkout: paths are hashed relative to it.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
