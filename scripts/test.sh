#!/usr/bin/env bash
# Installs what is missing, builds every test and runs them through CTest:
# all tests under AddressSanitizer + UndefinedBehaviorSanitizer, the threaded
# tests once more under ThreadSanitizer, the optimised program, and each fuzz
# target for a short time.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen

cmake -S "$root" -B "$root/build/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=address,undefined
cmake --build "$root/build/asan" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir "$root/build/asan" --output-on-failure -j "$jobs"

cmake -S "$root" -B "$root/build/tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=thread
cmake --build "$root/build/tsan" -j "$jobs" --target velmora_threaded_tests
TSAN_OPTIONS="halt_on_error=1 suppressions=$root/tests/tsan.supp" \
    ctest --test-dir "$root/build/tsan" --output-on-failure -j "$jobs" -L threaded

# The optimised build of the program and the benchmarks (what scripts/run.sh
# builds): the optimiser finds warnings the debug builds do not.
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF
cmake --build "$root/build/release" -j "$jobs" --target velmora scan_benchmark write_benchmark manual_benchmark auto_benchmark velmora_screenshots

"$root/scripts/fuzz.sh"
