#!/usr/bin/env bash
# Fails when a C++ file of the repository differs from what .clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
bad=()
while IFS= read -r -d '' f; do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done < <(git ls-files -z '*.cpp' '*.h')
if [ ${#bad[@]} -gt 0 ]; then
    echo "Not formatted by .clang-format (run: clang-format -i FILE):" >&2
    printf '  %s\n' "${bad[@]}" >&2
    exit 1
fi
