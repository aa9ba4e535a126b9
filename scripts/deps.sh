#!/usr/bin/env bash
# Installs the Debian 12 packages the program needs, when they are missing. Safe to run again.
#   scripts/deps.sh          what building and running the program needs
#   scripts/deps.sh --test   also what the tests need (independent readers, display-less Qt,
#                            clang with its sanitizer and libFuzzer runtimes for the fuzz run)
#   scripts/deps.sh --bench  also what the benchmarks compare against (pandas, FreeXL)
#   scripts/deps.sh --package  also what building and checking the Debian package needs
set -euo pipefail

packages=(cmake make g++ pkg-config ccache qt6-base-dev qt6-translations-l10n qt6-qpa-plugins
          libgl-dev libsqlite3-dev mdbtools-dev libglib2.0-dev fonts-wqy-microhei
          libxlsxwriter-dev libzip-dev libopencc-dev
          libicu-dev)
if [ "${1:-}" = "--test" ]; then
    packages+=(mdbtools python3 python3-dbf python3-xlrd libfreexl-dev clang-format python3-olefile poppler-utils
               python3-openpyxl libreoffice-calc-nogui clang libclang-rt-14-dev)
fi
if [ "${1:-}" = "--package" ]; then
    packages+=(dpkg-dev file librsvg2-bin lintian desktop-file-utils procps)
fi
if [ "${1:-}" = "--bench" ]; then
    packages+=(mdbtools python3 python3-pandas libfreexl-dev xvfb xauth)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
