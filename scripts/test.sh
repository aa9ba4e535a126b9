#!/usr/bin/env bash
# Builds the program and runs every test: the formatting and layering checks, the whole suite in
# the normal build (warnings as errors), the Debian package made from that build (installed,
# tried as a user who cannot write /usr and removed again: scripts/check-package.sh), the whole
# suite again in a build with AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz
# target for 30 seconds over its corpus.
# CHACHONG_QUICK=1 skips the package, sanitizer and fuzzing passes (for a quick local run).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --test
scripts/check-format.sh
scripts/check-layers
scripts/build.sh
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")
[ "${CHACHONG_QUICK:-0}" = "1" ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo scripts/check-package.sh build

scripts/build.sh --sanitize
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd build-asan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")

scripts/fuzz-smoke.sh 30
