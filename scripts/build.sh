#!/usr/bin/env bash
# Configures and builds into build/ (the program directory is build/bin).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
