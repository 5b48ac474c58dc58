#!/usr/bin/env bash
# Installs what is missing, builds the screenshot tool and makes the README's
# pictures of the main screens (docs/screenshots/*.png) from the real widgets,
# offscreen, over copies of tests/fixtures/scan.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=OFF
cmake --build "$root/build/release" -j "$(nproc)" --target velmora_screenshots
QT_QPA_PLATFORM=offscreen "$root/build/release/velmora_screenshots" "$root/tests/fixtures/scan" "$root/docs/screenshots"
# For checking the screens: each language and appearance at the minimum window size.
for language in en de; do
    for appearance in light dark; do
        QT_QPA_PLATFORM=offscreen "$root/build/release/velmora_screenshots" "$root/tests/fixtures/scan" \
            "$root/build/screenshots/$language-$appearance" "$language" "$appearance"
    done
done
