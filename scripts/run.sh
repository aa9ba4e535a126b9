#!/usr/bin/env bash
# Builds the program and starts it with its shipped working database.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
exec build/bin/chachong "$@"
