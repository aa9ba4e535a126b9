#!/usr/bin/env bash
# The whole benchmark suite in one command: builds what it needs, runs every benchmark and prints
# one Markdown table in which each figure stands beside a baseline measured in the same run, with
# the machine's core count and the versions compared against.
#   bench/run.sh            full sizes (exact check on 1,000,000 rows: allow half an hour)
#   bench/run.sh --tiny     every benchmark at a tiny size (the test command runs this)
#   bench/run.sh --10m      full sizes, and the whole job on 10,000,000 rows too (about 1.5 GB of
#                           text; allow an hour and 10 GB of memory for pandas)
# CHACHONG_BUILD_DIR=<dir> uses binaries already built there and installs nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

tiny=0 ten=0
[ "${1:-}" = "--tiny" ] && tiny=1
[ "${1:-}" = "--10m" ] && ten=1

build="${CHACHONG_BUILD_DIR:-}"
if [ -z "$build" ]; then
    build=build
    scripts/deps.sh --bench >&2
    cmake -S . -B "$build" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCHACHONG_BENCH=ON >/dev/null
    cmake --build "$build" -j"$(nproc)" --target chachong-batch bench_filter bench_exactcheck \
        bench_import bench_wholejob bench_windowpath bench_fuzzycheck bench_batchdelete bench_smart >&2
    cmake --build "$build" -j"$(nproc)" --target bench_xls >&2 2>/dev/null || true
    cmake --build "$build" -j"$(nproc)" --target bench_xlsx >&2 2>/dev/null || true
fi

if [ $tiny -eq 1 ]; then
    filter=(2000 20000); xls=(300 1); xlsx=(300 1); import=(300 1 300); exact=(3000 400)
    wholejob=(3000); windowpath=(2000 1); fuzzycheck=(3000 1500 500); batchdelete=(3000 400)
    smart=(300 3000)
else
    filter=(10000 100000 1000000); xls=(65000 5); xlsx=(1000000 3); import=(65000 3 1000000)
    exact=(1000000 20000); wholejob=(100000 1000000); windowpath=(1000000 3); batchdelete=(100000 5000)
    fuzzycheck=(1000000 100000 10000); smart=(4000 1000000)
    [ $ten -eq 1 ] && wholejob+=(10000000)
fi

version() { "$@" 2>/dev/null | head -1 || true; }
echo "- machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "- compared with: pandas $(version /usr/bin/python3 -c 'import pandas; print(pandas.__version__)')" \
     "(Python $(version /usr/bin/python3 -c 'import platform; print(platform.python_version())')), FreeXL" \
     "$(version pkg-config --modversion freexl); built with SQLite $(version pkg-config --modversion sqlite3)," \
     "Qt $(version pkg-config --modversion Qt6Core), $(version "${CXX:-c++}" --version)"
echo
echo "| measure | size | ours | baseline (same run) | ours / baseline |"
echo "|---|---|---:|---:|---:|"

export CHACHONG_BENCH_SUITE=1 QT_QPA_PLATFORM=offscreen
status=0
run() {
    local name=$1; shift
    if [ ! -x "$build/bench/$name" ]; then
        echo "$name is not built (missing library?): skipped" >&2
        return
    fi
    "$build/bench/$name" "$@" || { echo "$name failed (status $?)" >&2; status=1; }
}
run bench_filter "${filter[@]}"
run bench_xls "${xls[@]}"
run bench_xlsx "${xlsx[@]}"
run bench_import "${import[@]}"
run bench_exactcheck "${exact[@]}"
run bench_wholejob "${wholejob[@]}"
run bench_fuzzycheck "${fuzzycheck[@]}"
run bench_batchdelete "${batchdelete[@]}"
run bench_smart "${smart[@]}"
# The windows on a real display server, as a user sees them (the tiny run stays off-screen).
if [ $tiny -eq 0 ] && command -v xvfb-run >/dev/null; then
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24" \
        "$build/bench/bench_windowpath" "${windowpath[@]}" \
        || { echo "bench_windowpath failed" >&2; status=1; }
else
    run bench_windowpath "${windowpath[@]}"
fi
exit $status
