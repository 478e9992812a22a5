#!/usr/bin/env bash
# Runs each fuzz target (tests/fuzz, one per parser of what the program reads from outside) for
# SECONDS under AddressSanitizer and UndefinedBehaviorSanitizer, from its seed corpus
# (tests/fuzz/corpus/TARGET) and what earlier runs found (build-asan/fuzz-corpus/TARGET). Prints
# one line per target: runs, coverage (edges and features), corpus size, and what it found: a
# crash, a sanitizer's report or a property that did not hold, with the input kept in
# build-asan/fuzz-findings/TARGET. Then "N passed, M failed"; the exit status is 1 when one
# failed. Targets may be named after SECONDS (Header, Catalog...). As many run at a time as there
# are processors.
#
#     bash scripts/fuzz.sh 120
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:?usage: scripts/fuzz.sh SECONDS [TARGET...]}
shift
build=${ORVANE_ASAN_BUILD_DIR:-$root/build-asan}

"$root/scripts/setup.sh" fuzz
if [ $# -gt 0 ]; then
    targets=("$@")
else
    mapfile -t targets < <(ls "$root/tests/fuzz/corpus")
fi
bash "$root/scripts/asan-build.sh" "${targets[@]/#/fuzz_}" >/dev/null

# One target's run; its line goes to $build/fuzz-logs/TARGET.line.
fuzz_target() {
    local target=$1
    local work=$build/fuzz-corpus/$target findings=$build/fuzz-findings/$target
    local log=$build/fuzz-logs/$target.log
    mkdir -p "$work" "$findings"
    local status=0
    (cd "$findings" && "$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=20 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$work" \
        "$root/tests/fuzz/corpus/$target") >"$log" 2>&1 || status=$?
    local runs last found
    runs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$log")
    last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
    field() { sed -nE "s/.* $1: ([0-9]+).*/\1/p" <<<"$last"; }
    if [ "$status" -eq 0 ]; then
        found="nothing found"
    else
        local what input
        what=$(grep -m1 -E 'PROPERTY FAILED|runtime error|ERROR: (AddressSanitizer|libFuzzer|LeakSanitizer)' \
            "$log" | sed -E 's/^==[0-9]+== ?//; s/^.*runtime error/runtime error/' || true)
        input=$(ls -t "$findings" | head -1)
        found="FOUND: ${what:-exit status $status} (input $findings/$input; log $log)"
    fi
    printf '%-13s %10s runs  cov %5s  ft %6s  corpus %5s  %s\n' "$target" "${runs:-0}" \
        "$(field cov)" "$(field ft)" "$(sed -nE 's/.* corp: ([0-9]+)\/.*/\1/p' <<<"$last")" \
        "$found" >"$build/fuzz-logs/$target.line"
}

# As many targets at a time as there are processors: each fuzzes on one.
mkdir -p "$build/fuzz-logs"
rm -f "$build"/fuzz-logs/*.line
jobs=$(nproc)
for target in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
        wait -n || true
    done
    fuzz_target "$target" &
done
wait

passed=0 failed=0
for target in "${targets[@]}"; do
    line=$build/fuzz-logs/$target.line
    if [ -f "$line" ] && ! grep -q '  FOUND: ' "$line"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
    cat "$line" 2>/dev/null || echo "$target did not run"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
