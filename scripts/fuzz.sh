#!/bin/sh
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs each for a bounded time:
#
#     sh scripts/fuzz.sh [seconds per target, default 60]
#
# Each target starts from its seed corpus in fuzz/corpus/<name>; what it adds
# goes to a temporary copy, so the tree stays as it is. A crash, a sanitizer
# report, a failed check, a hang (10 s on one input) or a leak stops that
# target and makes the script fail; the input that did it is kept in
# build-fuzz/findings/.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=$(nproc)

targets="serial_frames usb_reports text_reader xml_reader hid_descriptor"

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DQM45_FUZZ=ON \
    -DQM45_BUILD_TESTS=OFF -DQM45_BUILD_BENCH=OFF >/dev/null
build_targets=""
for t in $targets; do build_targets="$build_targets fuzz_$t"; done
# shellcheck disable=SC2086
cmake --build build-fuzz -j"$jobs" --target $build_targets

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build-fuzz/findings

failed=""
for t in $targets; do
    mkdir -p "$work/$t"
    cp fuzz/corpus/"$t"/* "$work/$t"/
    echo "== fuzz_$t: $seconds s"
    if ! ASAN_OPTIONS=detect_leaks=1 build-fuzz/bin/fuzz_"$t" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix=build-fuzz/findings/"$t"- "$work/$t" >"$work/$t.log" 2>&1; then
        failed="$failed $t"
        tail -n 60 "$work/$t.log"
    fi
    grep -E 'stat::number_of_executed_units|stat::new_units_added' "$work/$t.log" | sed "s/^/   /" || true
done

if [ -n "$failed" ]; then
    echo "fuzzing found problems in:$failed (inputs in build-fuzz/findings/)" >&2
    exit 1
fi
echo "fuzzing: no findings"
