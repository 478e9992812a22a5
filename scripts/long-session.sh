#!/usr/bin/env bash
# A long session in one window: the real dialog through CYCLES update cycles (default 200)
# against a simulated unit, mixing completed, cancelled, failed and refused updates with a
# refresh of the list before each; prints the process's handle count and memory after the first
# and the last 20 cycles, and fails if the last 20 needed more than the first 20. The whole
# table stays in /tmp/orvane-long-session-<time>.txt.
#   usage: bash scripts/long-session.sh [CYCLES]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANE_BUILD_DIR:-$root/build}
cycles=${1:-200}
[[ $cycles =~ ^[1-9][0-9]*$ ]] || {
    echo "usage: bash scripts/long-session.sh [CYCLES]   (1 or more; default 200)" >&2
    exit 2
}

"$root/scripts/setup.sh" test
"$root/scripts/build.sh"

# shellcheck source=scripts/wine-session.sh
source "$root/scripts/wine-session.sh"
output=/tmp/orvane-long-session-$(date +%Y%m%d-%H%M%S).txt
trap wine_session_stop EXIT
trap 'exit 130' INT TERM
wine_session_start
export ORVANE_SIM_EQUIPMENT="$build/sim-equipment/orvane-sim-equipment"
export ORVANE_SESSION_CYCLES=$cycles

started=$EPOCHREALTIME
status=0
wine "$build/bin/session_tests.exe" >"$output" 2>&1 || status=$?
ended=$EPOCHREALTIME
tr -d '\r' <"$output" >"$output.txt"
mv "$output.txt" "$output"
if [ "$cycles" -gt 40 ]; then
    # The header, the first and the last 20 cycles, the summary and the verdict.
    awk -v cycles="$cycles" '
        /^CYCLE / { print; next }
        /^ *[0-9]+ [a-z-]+ / { if ($1 <= 20 || $1 > cycles - 20) print; if ($1 == 20) print "  ..."; next }
        /^most in|^\[  (PASSED|FAILED) |Failure|Expected|Which is|Test hung/ { print }
    ' "$output"
else
    cat "$output"
fi
echo "The whole table: $output"
echo "$cycles cycles in $(awk -v s="$started" -v e="$ended" 'BEGIN { printf "%.1f", e - s }') s"
exit $status
