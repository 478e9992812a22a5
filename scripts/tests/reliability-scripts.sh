#!/usr/bin/env bash
# Checks that the reliability scripts work, in a few seconds: a soak of 6 runs without the
# 30-second stall fault, and a malformed-file campaign of 20 files. Both must pass in full.
set -euo pipefail
scripts=$(cd "$(dirname "$0")/.." && pwd)
output=$(mktemp /tmp/orvane-reliability-check.XXXXXX)
trap 'rm -f "$output"' EXIT

ORVANE_SOAK_FAULTS=none,silent,split,hangup,slow,model,older ORVANE_SOAK_JOBS=3 \
    bash "$scripts/soak.sh" 6 7 >"$output" 2>&1 || { cat "$output"; exit 1; }
grep -qx '6 passed, 0 failed' "$output" || { cat "$output"; exit 1; }
sed -n '/^FAULT/,$p' "$output"

bash "$scripts/malformed.sh" 20 7 >"$output" 2>&1 || { cat "$output"; exit 1; }
grep -q '^20 files in .* s: 0 mismatches, 0 crashes$' "$output" || { cat "$output"; exit 1; }
sed -n '/^EXPECTED/,$p' "$output"
