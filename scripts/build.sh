#!/bin/sh
# Configures and builds the program, its tools, tests and benchmarks into build/.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
