#!/bin/sh
# Builds the HID suites with ThreadSanitizer and runs them. Reader threads
# hand every input report to the main thread; these suites drive that hand-over,
# its stop and the program's end, and must report no data race.
#
#   sh scripts/tsan.sh [build-dir]      (default: build-tsan)
#
# Qt comes uninstrumented from the distribution; tests/tsan.supp silences
# reports that lie wholly inside it.
set -eu
cd "$(dirname "$0")/.."
# Compiler cache hits from any checkout: paths are hashed relative to it.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1
dir=${1:-build-tsan}
jobs=${JOBS:-$(nproc)}

suites="test_hid_device_controller test_hid_device test_hid_read_thread
        test_hid_connection_control test_hid_linux_platform test_usb_end_to_end
        test_logger_run"

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQM45_TSAN=ON -DQM45_BUILD_BENCH=OFF
# shellcheck disable=SC2086
cmake --build "$dir" -j"$jobs" --target $suites hid_exit_probe

export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
pattern=$(echo $suites | tr ' ' '|')
ctest --test-dir "$dir" --output-on-failure -R "^($pattern)\$"
