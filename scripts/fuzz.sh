#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz/*.cpp) with clang and runs each one
# for a bounded time, seeded with inputs of its own kind: the fixtures of its
# audio formats, or the answers in tests/fuzz/seeds/<target without fuzz_>.
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
fixtures="$root/tests/fixtures"
for src in "${targets[@]}"; do
    name="$(basename "$src" .cpp)"
    corpus="$root/build/fuzz/corpus-$name"
    mkdir -p "$corpus"
    case "$name" in
    fuzz_id3) files=("$fixtures"/id3/* "$fixtures"/scan/*.{mp3,MP3,aac,aif,aiff,wav}) ;;
    fuzz_flac) files=("$fixtures"/flac/* "$fixtures"/scan/*.{flac,FLAC}) ;;
    fuzz_mp4) files=("$fixtures"/mp4/* "$fixtures"/scan/*.{m4a,mp4}) ;;
    *) files=("$root/tests/fuzz/seeds/${name#fuzz_}"/*) ;;
    esac
    if [ ${#files[@]} -eq 0 ]; then
        echo "No seeds for $name"
        exit 1
    fi
    # libFuzzer takes folders: the seeds are gathered into one of this target's own (numbered,
    # as two folders may hold the same name).
    seeds="$root/build/fuzz/seeds-$name"
    rm -rf "$seeds"
    mkdir -p "$seeds"
    for i in "${!files[@]}"; do
        cp "${files[$i]}" "$seeds/$i-$(basename "${files[$i]}")"
    done
    echo "Fuzzing $name for ${seconds}s"
    "$root/build/fuzz/$name" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
        -print_final_stats=0 "$corpus" "$seeds" >/dev/null 2>"$root/build/fuzz/$name.log" || {
        tail -50 "$root/build/fuzz/$name.log"
        echo "Fuzz target $name failed"
        exit 1
    }
done
echo "All fuzz targets ran clean."
