#!/usr/bin/env bash
# Builds the Debian package dist/chachong_<version>_<arch>.deb and checks it with lintian.
#   scripts/package.sh          a release build in build-pkg/
#   scripts/package.sh DIR      from the build in DIR (CI packages the build it tested)
# Install it with: sudo apt-get install ./dist/chachong_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --package
dir=${1:-build-pkg}
if [ -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -DCHACHONG_PACKAGE=ON >/dev/null
else
    cmake -S . -B "$dir" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release -DCHACHONG_TESTS=OFF \
        -DCHACHONG_BENCH=OFF -DCHACHONG_PACKAGE=ON >/dev/null
fi
cmake --build "$dir" -j"$(nproc)" --target chachong chachong-batch workdb packaging_docs \
    packaging_icons
mkdir -p dist
rm -f dist/chachong_*.deb
(cd "$dir" && cpack -G DEB -B "$PWD/cpack" >/dev/null)
mv "$dir"/cpack/chachong_*.deb dist/
deb=$(ls dist/chachong_*.deb)
desktop-file-validate packaging/chachong.desktop
# Errors fail the build; the warnings are shown.
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "$deb"
