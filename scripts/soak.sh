#!/usr/bin/env bash
# A soak of console updates with random faults: N runs of
#   orvane-update update FILE --port COMn --yes
# against simulated units, each with one fault drawn from a seeded generator (the same seed gives
# the same runs): none, a silent unit, a split reply, a unit that stops reading after a random
# number of bytes, a hang-up at a random byte, a slow (paced) unit, a unit of another model, an
# older file. Every outcome is judged here, from what the unit received and the exit code, not
# from the program's own account: a run that exits 0 delivered exactly "pgm\r" and the file after
# the search's version query and the update's own on the port it opened; a fault gives its exit code and message within its time bound; every port
# the program opened was closed again and its process is gone.
#   usage: bash scripts/soak.sh N [SEED]
# SEED defaults to 1. ORVANE_JOBS runs go at the same time (default 4), each job on a unit of its
# own; ORVANE_SOAK_FAULTS draws from fewer faults (a comma-separated part of the list above:
# none,silent,split,stall,hangup,slow,model,older).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANE_BUILD_DIR:-$root/build}
# shellcheck source=scripts/sim-units.sh
source "$root/scripts/sim-units.sh"
read_count_and_seed "bash scripts/soak.sh N [SEED]   (N runs, 1 or more; SEED a number)" "$@"
all_faults=none,silent,split,stall,hangup,slow,model,older
faults=${ORVANE_SOAK_FAULTS:-$all_faults}
for fault in ${faults//,/ }; do
    [[ ,$all_faults, == *,$fault,* ]] || {
        echo "ORVANE_SOAK_FAULTS: \"$fault\" is none of $all_faults" >&2
        exit 2
    }
done

"$root/scripts/setup.sh" test
"$root/scripts/build.sh"
sim_units_work soak

# The plan: one line per run, "index fault size version reply conf", from the seed alone.
# Stalls and hang-ups come at least 128 KiB before the end of the file: a pseudo-terminal
# buffers tens of KiB, and a unit that goes away later than that would find the whole file
# written as far as the program can tell.
python3 - "$count" "$seed" "$faults" >"$work/plan.txt" <<'EOF'
import random, sys
runs, seed = int(sys.argv[1]), int(sys.argv[2])
rng = random.Random(seed)
faults = sys.argv[3].split(",")
for index in range(runs):
    fault = rng.choice(faults)
    size = rng.randint(512, 96 * 1024)
    installed, version, model = 5, rng.randint(6, 99), 1
    conf = "mode=normal"
    if fault == "silent":
        conf = "mode=silent"
    elif fault == "split":
        conf = "mode=split;split_pause_ms=%d" % rng.randint(20, 300)
    elif fault in ("stall", "hangup"):
        size = rng.randint(160 * 1024, 320 * 1024)
        # Past the two "ver\r" and "pgm\r", at least one byte of the file.
        at = rng.randint(13, 12 + size - 128 * 1024)
        conf = "mode=stall;stall_after=%d" % at if fault == "stall" else \
               "mode=hangup;hangup_after=%d" % at
    elif fault == "slow":
        conf = "mode=paced;paced_rate=%d" % rng.randint(16000, 46080)
    elif fault == "model":
        model = rng.choice([0, 2, 3, 7, 42, 99])
    elif fault == "older":
        version = rng.randint(0, installed - 1)
    reply = "%02X%02X" % (model, installed)
    print(index, fault, size, version, reply, conf, rng.randint(0, 2**31))
EOF

# The units: one per job, COM21 onwards.
sim_units_for_jobs 21 "Soak unit"
soak_name=$(basename "$work")

# The expected outcome of each fault: exit code and a text the program must show.
expected_status() {
    case $1 in
    none | split | slow) echo 0 ;;
    model | older) echo 3 ;;
    silent | stall | hangup) echo 4 ;;
    esac
}
expected_text() {
    case $1 in
    none | split | slow) echo "Your equipment has been successfully updated" ;;
    silent) echo "the unit did not answer the version query" ;;
    model) echo "This file is not meant for the connected equipment" ;;
    older) echo "This file version is older than the current firmware" ;;
    stall | hangup) echo "Error writing data to Master COM port" ;;
    esac
}
# The longest a run may take, in seconds: Wine's start and the search, plus the transfer at the
# unit's pace, plus the stall limit of 30 s for a unit that stops reading.
time_bound() {
    local fault=$1 size=$2 conf=$3
    case $fault in
    stall) echo 50 ;;
    slow) awk -v size="$size" -v rate="${conf##*=}" 'BEGIN { printf "%d", 20 + size / rate }' ;;
    *) echo 20 ;;
    esac
}

# One run on the unit at $port; appends "index fault status seconds verdict" to $results.
one_run() {
    local port=$1 bridges=$2 results=$3 index=$4 fault=$5 size=$6 version=$7 reply=$8 conf=$9
    local file_seed=${10}
    local file="$work/run-$index.ace" out="$work/run-$index.out" verdict=ok
    python3 - "$file" "$size" "$version" "$file_seed" <<'EOF'
import random, sys
path, size, version, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
data = bytearray(random.Random(seed).randbytes(size))
data[257:261] = b"01%02d" % version
open(path, "wb").write(data)
EOF
    sim_configure "$port" "reply=$reply"$'\n'"${conf//;/$'\n'}" || verdict="conf-rejected"
    sim_clear "$port"
    ORVANE_SIM_BRIDGES=$(windows_path "$bridges") wine_run "$out" \
        "$build/bin/orvane-update.exe" update "$(windows_path "$file")" --port "COM$port" --yes
    local status=$run_status seconds=$run_seconds
    [ "$status" -ne 124 ] || verdict="hang"

    # Every session the program opened has ended (or the unit hung up) before we judge.
    local events="$equipment/port$port.events" opens ends i
    for ((i = 0; i < 500; i++)); do
        opens=$(grep -c '^open ' "$events" || true)
        ends=$(grep -Ec '^(close|close-late|hangup) ' "$events" || true)
        [ "$opens" -gt 0 ] && { [ "$ends" -ge "$opens" ] || grep -q '^hangup ' "$events"; } && break
        sleep 0.01
    done
    [ "$ends" -ge "$opens" ] || grep -q '^hangup ' "$events" || verdict="port-left-open"
    if pgrep -f "$soak_name.*run-$index\\.ace" >/dev/null; then
        verdict="process-left"
    fi

    # What the unit received: the version query, then for an update the program command and the
    # file; a stall or hang-up records exactly the bytes the unit took before it stopped.
    local received="$equipment/port$port.rx" received_ok
    received_ok=$(python3 - "$received" "$file" "$fault" "$conf" "$status" <<'EOF'
import sys
received = open(sys.argv[1], "rb").read()
firmware = open(sys.argv[2], "rb").read()
fault, conf, status = sys.argv[3], sys.argv[4], int(sys.argv[5])
if status == 0:
    ok = received == b"ver\r" * 2 + b"pgm\r" + firmware
elif fault in ("stall", "hangup"):
    taken = int(conf.rsplit("=", 1)[1])
    ok = received == (b"ver\r" * 2 + b"pgm\r" + firmware)[:taken]
else:
    ok = received == b"ver\r"
print("yes" if ok else "no")
EOF
)
    [ "$received_ok" = yes ] || [ "$verdict" != ok ] || verdict="wrong-bytes"
    if [ "$verdict" = ok ]; then
        local want_status want_text bound
        want_status=$(expected_status "$fault")
        want_text=$(expected_text "$fault")
        bound=$(time_bound "$fault" "$size" "$conf")
        if [ "$status" -ne "$want_status" ]; then
            verdict="exit-$status"
        elif ! grep -qF "$want_text" "$out"; then
            verdict="wrong-message"
        elif awk -v s="$seconds" -v b="$bound" 'BEGIN { exit !(s > b) }'; then
            verdict="too-slow"
        elif [ "$fault" = stall ] && awk -v s="$seconds" 'BEGIN { exit !(s < 30) }'; then
            verdict="before-stall-limit"
        fi
    fi
    echo "$index $fault $status $seconds $verdict" >>"$results"
    if [ "$verdict" != ok ]; then
        cp "$out" "$work/failed-$index.out"
        cp "$events" "$work/failed-$index.events"
        echo "run $index ($fault, $conf, $size bytes): $verdict, exit $status in $seconds s" >&2
        sed 's/^/    /' "$out" >&2
    fi
    rm -f "$file" "$out"
}

# Each job takes every jobs-th run of the plan, in order, on its own unit.
run_job() {
    local job=$1
    local index fault size version reply conf file_seed
    while read -r index fault size version reply conf file_seed; do
        one_run "${job_ports[$job]}" "$work/bridges-$job.txt" "$work/results-$job.txt" \
            "$index" "$fault" "$size" "$version" "$reply" "$conf" "$file_seed"
    done < <(plan_for_job "$job")
}

echo "soak: $count console updates, seed $seed, $jobs at a time"
soak_started=$EPOCHREALTIME
run_jobs run_job
soak_ended=$EPOCHREALTIME

# Nothing of ours may be left: no orvane-update process of this soak, and once the simulator has
# stopped, no port link.
left=0
if pgrep -f "$soak_name.*\\.ace" >/dev/null; then
    echo "orvane-update processes left behind:" >&2
    pgrep -af "$soak_name.*\\.ace" >&2 || true
    left=1
fi
dosdevices="$WINEPREFIX/dosdevices"
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
for port in "${job_ports[@]}"; do
    if [ -L "$dosdevices/com$port" ]; then
        echo "the link of COM$port is left behind" >&2
        left=1
    fi
done

python3 - "$work/results.txt" "$left" "$(seconds_between "$soak_started" "$soak_ended")" \
    "$count" "$(restarts_note)" <<'EOF'
import sys
expected = {
    "none": "exit 0, file delivered", "split": "exit 0, file delivered",
    "slow": "exit 0, file delivered", "silent": "exit 4, no answer",
    "model": "exit 3, not meant for", "older": "exit 3, older version",
    "stall": "exit 4, after 30 s", "hangup": "exit 4, write error",
}
rows = {}
for line in open(sys.argv[1]):
    index, fault, status, seconds, verdict = line.split()
    row = rows.setdefault(fault, {"runs": 0, "ok": 0, "worst": 0.0, "seen": {}})
    row["runs"] += 1
    row["ok"] += verdict == "ok"
    row["worst"] = max(row["worst"], float(seconds))
    seen = "exit %s" % status if verdict == "ok" else "exit %s %s" % (status, verdict)
    row["seen"][seen] = row["seen"].get(seen, 0) + 1
print("%-7s %5s  %-24s %-28s %s" % ("FAULT", "RUNS", "EXPECTED", "SEEN", "WORST"))
for fault in ["none", "silent", "split", "stall", "hangup", "slow", "model", "older"]:
    if fault not in rows:
        continue
    row = rows[fault]
    seen = ", ".join("%s x%d" % item for item in sorted(row["seen"].items()))
    print("%-7s %5d  %-24s %-28s %.1f s" % (fault, row["runs"], expected[fault], seen, row["worst"]))
passed = sum(row["ok"] for row in rows.values())
failed = int(sys.argv[4]) - passed  # a run without a result failed too
left = int(sys.argv[2])
restarts = sys.argv[5]
if restarts:
    print(restarts)
print("total time %s s; %s" % (sys.argv[3], "nothing left behind" if not left
                               else "processes or ports left behind"))
print("%d passed, %d failed" % (passed, failed))
sys.exit(1 if failed or left else 0)
EOF
