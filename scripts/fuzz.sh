#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz/*.cpp) with clang and runs each one
# for a bounded time, seeded with the audio fixtures.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${VELMORA_FUZZ_SECONDS:-20}"
shopt -s nullglob
targets=("$root"/tests/fuzz/*.cpp)
if [ ${#targets[@]} -eq 0 ]; then
    echo "No fuzz targets."
    exit 0
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMORA_FUZZ=ON -DVELMORA_BUILD_TESTS=OFF
cmake --build "$root/build/fuzz" -j "$(nproc)" --target velmora_fuzzers
for src in "${targets[@]}"; do
    name="$(basename "$src" .cpp)"
    corpus="$root/build/fuzz/corpus-$name"
    mkdir -p "$corpus"
    seeds=("$root"/tests/fixtures/*/)
    echo "Fuzzing $name for ${seconds}s"
    "$root/build/fuzz/$name" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
        -print_final_stats=0 "$corpus" "${seeds[@]}" >/dev/null 2>"$root/build/fuzz/$name.log" || {
        tail -50 "$root/build/fuzz/$name.log"
        echo "Fuzz target $name failed"
        exit 1
    }
done
echo "All fuzz targets ran clean."
