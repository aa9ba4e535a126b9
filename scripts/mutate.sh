#!/usr/bin/env bash
# Plants small faults in the engines one at a time and says whether the tests catch each.
#   scripts/mutate.sh                  every change in scripts/mutations.txt
#   scripts/mutate.sh PATTERN          only the changes whose file or note matches PATTERN
# For each change: the line is altered in the working tree (the text `before`, found nearest to
# the line given, becomes `after`), the tests of the changed file's folder are built in
# build-mutate/ and run, and the file is put back. A change the tests fail on is killed; one
# they pass is survived; one that does not build is reported apart and not counted. Prints one
# line per change and the share killed. Runs by hand, not in CI (each change rebuilds and runs a
# folder's tests). Needs the packages of scripts/deps.sh --test.
set -euo pipefail
cd "$(dirname "$0")/.."
list=scripts/mutations.txt
filter="${1:-}"
dir=build-mutate
cmake -S . -B "$dir" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j"$(nproc)" >/dev/null

# The test folder of a source file, and the test executables in it.
tests_of() {
    local file="$1" folder
    case "$file" in
        db/formats/*|db/vtab/*) folder=formats ;;
        db/*) folder=db ;;
        core/*) folder=app ;;
        *) folder="${file%%/*}" ;;
    esac
    find "tests/$folder" -name 'tst_*.cpp' -printf '%f\n' | sed 's/\.cpp$//' | sort
}

killed=0 survived=0 broken=0
# The list, one change per line: file, line, before, after, what the change breaks (tabs between;
# `after` may be empty; lines starting with # are notes). Read by Python, which keeps empty fields.
entry() { # entry N FIELD: field FIELD (0-4) of change N; entry count: how many changes
    python3 - "$list" "$@" <<'PY'
import sys
rows = [l.rstrip("\n").split("\t") for l in open(sys.argv[1], encoding="utf-8")
        if l.strip() and not l.startswith("#")]
if sys.argv[2] == "count":
    print(len(rows))
else:
    print(rows[int(sys.argv[2])][int(sys.argv[3])])
PY
}
restore() { [ -n "${current:-}" ] && cp "$dir/original" "$current"; current=; }
trap restore EXIT INT TERM
count=$(entry count)
for ((n = 0; n < count; n++)); do
    file=$(entry "$n" 0) line=$(entry "$n" 1) note=$(entry "$n" 4)
    if [ -n "$filter" ] && ! grep -q -- "$filter" <<<"$file $note"; then continue; fi
    cp "$file" "$dir/original"
    current="$file"
    if ! python3 - "$list" "$n" <<'PY'
import sys
rows = [l.rstrip("\n").split("\t") for l in open(sys.argv[1], encoding="utf-8")
        if l.strip() and not l.startswith("#")]
path, line, before, after, _ = rows[int(sys.argv[2])]
lines = open(path, encoding="utf-8").read().split("\n")
hits = [i for i, l in enumerate(lines) if before in l]
if not hits:
    sys.exit(1)
i = min(hits, key=lambda h: abs(h + 1 - int(line)))
lines[i] = lines[i].replace(before, after, 1)
open(path, "w", encoding="utf-8").write("\n".join(lines))
PY
    then
        restore
        echo "missing   $file:$line  (the text to change is not there any more)  $note"
        broken=$((broken + 1))
        continue
    fi
    mapfile -t targets < <(tests_of "$file")
    if ! cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}" >"$dir/build.log" 2>&1; then
        restore
        echo "no build  $file:$line  $note"
        broken=$((broken + 1))
        continue
    fi
    regex="^($(IFS='|'; echo "${targets[*]}"))$"
    if (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest -j"$(nproc)" --timeout 300 -R "$regex" \
            >"test.log" 2>&1); then
        survived=$((survived + 1))
        echo "SURVIVED  $file:$line  $note"
    else
        killed=$((killed + 1))
        echo "killed    $file:$line  $note"
    fi
    restore
done
# The tree as it was: the folder's tests built again without any change.
cmake --build "$dir" -j"$(nproc)" >/dev/null
total=$((killed + survived))
[ "$total" -gt 0 ] || { echo "no change ran"; exit 1; }
echo "killed $killed of $total ($((100 * killed / total)) %), survived $survived, not built $broken"
