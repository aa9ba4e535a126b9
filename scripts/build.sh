#!/usr/bin/env bash
# Configures and builds into build/ (the program directory is build/bin), warnings as errors.
#   scripts/build.sh               the program, its tests and benchmarks
#   scripts/build.sh --sanitize    the same with AddressSanitizer and UndefinedBehaviorSanitizer,
#                                  into build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
extra=()
if [ "${1:-}" = "--sanitize" ]; then
    dir=build-asan
    extra+=(-DCHACHONG_SANITIZE=ON)
fi
cmake -S . -B "$dir" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCHACHONG_WERROR=ON \
    "${extra[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
