#!/usr/bin/env bash
# Times "orvane-update update FILE --all --yes" against 1, 4 and 8 simulated units, each taking
# data no faster than 460800 baud allows (46,080 bytes/s), with a 1 MiB firmware file, and
# prints each run's time beside the line-rate floor: the 4 + 1,048,576 bytes of one unit at
# 46,080 bytes/s, 22.76 s. Not a test: the figures depend on the machine and its load.
#
# By default orvane-update.exe runs under Wine with the units on COM11 onwards. With --linux the
# native orvane-update runs with the units as USB serial adapters /dev/ttyUSB0 onwards, laid out
# in a umockdev test bed, one bed per run holding only that run's units.
#
# With --watch it times "orvane-update watch FILE --yes" instead: 8 such units plugged in 0.5 s
# apart while it runs, and prints the time from the first plug-in to the last "updated" line
# beside its floor (the last plug-in plus the line-rate floor), and the units per hour.
# With --discovery it times "orvane-update list" five times each with 1 and 16 units that answer
# at once, and prints the median of each and their ratio.
#   usage: bash scripts/bench-console.sh [--linux] [--watch | --discovery | COUNT ...]
#          (default: 1 4 8)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANE_BUILD_DIR:-$root/build}
native=${ORVANE_NATIVE_BUILD_DIR:-$root/build-linux}
usage="usage: bash scripts/bench-console.sh [--linux] [--watch | --discovery | COUNT ...]  (1 to 99 units each)"
linux=""
if [ "${1:-}" = "--linux" ]; then
    linux=1
    shift
fi
watch=""
watch_units=8
discovery=""
discovery_runs=5
if [ "${1:-}" = "--watch" ] || [ "${1:-}" = "--discovery" ]; then
    [ "$1" = "--watch" ] && watch=1 || discovery=1
    shift
    [ $# -eq 0 ] || {
        echo "$usage" >&2
        exit 2
    }
    if [ -n "$watch" ]; then
        set -- $watch_units
    else
        set -- 1 16
    fi
fi
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1 4 8)
max=0
for count in "${counts[@]}"; do
    [[ $count =~ ^[1-9][0-9]?$ ]] || {
        echo "$usage" >&2
        exit 2
    }
    ((count > max)) && max=$count
done

"$root/scripts/setup.sh" test

# shellcheck source=scripts/sim-units.sh
source "$root/scripts/sim-units.sh"
sim_units_work bench

if [ -n "$linux" ]; then
    {
        cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release &&
            cmake --build "$native" --target orvane-update orvane-sim-equipment
    } >"$work/build.log" 2>&1 || {
        cat "$work/build.log" >&2
        exit 1
    }
else
    "$root/scripts/build.sh"
fi

firmware_size=$((1024 * 1024))
rate=46080
floor=$(awk -v bytes=$((firmware_size + 4)) -v rate=$rate 'BEGIN { printf "%.2f", bytes / rate }')
# Every unit: model 1 with firmware 005, paced.
unit_conf="reply=0105
mode=paced
paced_rate=$rate"

# A 1 MiB firmware file for model 1, version 006, and what each unit must receive in all: the
# version query of the discovery, the program command and the file.
{
    printf '%-257.257s' "Orvane benchmark firmware"
    printf '0106'
    head -c 251 /dev/zero
    head -c $((firmware_size - 512)) /dev/urandom
} >"$work/firmware.ace"
{
    # The search's question, the update's own on the port it opened, then the program command.
    printf 'ver\rver\rpgm\r'
    cat "$work/firmware.ace"
} >"$work/expected.bin"
expected_size=$(stat -c %s "$work/expected.bin")

# Waits up to 5 s for the unit's record $1 to hold all it should: the unit records the last
# bytes a moment after the program has closed the port.
wait_received() {
    local wait
    for ((wait = 0; wait < 100; wait++)); do
        [ "$(stat -c %s "$1" 2>/dev/null || echo 0)" -ge "$expected_size" ] && return 0
        sleep 0.05
    done
}

# Inside a test bed: keeps what each of its $1 units received as $work/$2-I.bin, once it is all
# there, since the bed's state goes with it.
# shellcheck disable=SC2317 # called through bash -c
keep_received() {
    local i
    for ((i = 0; i < $1; i++)); do
        wait_received "$ORVANE_SIMBED_STATE/port$((i + 1)).rx"
        cp -p "$ORVANE_SIMBED_STATE/port$((i + 1)).rx" "$work/$2-$i.bin" 2>/dev/null || true
    done
}

# Runs inside a run's test bed: times the program, then keeps what each unit received as
# $work/rx-COUNT-I.bin.
# shellcheck disable=SC2317 # called through bash -c
bench_in_bed() {
    local count=$1 started status=0
    started=$EPOCHREALTIME
    "$native/bin/orvane-update" update "$work/firmware.ace" --all --yes </dev/null \
        >"$work/run-$count.txt" 2>&1 || status=$?
    echo "$started $EPOCHREALTIME $status" >"$work/times-$count.txt"
    keep_received "$count" "rx-$count"
}

# The test bed's devices file $2 for $1 units, /dev/ttyUSB0 onwards with serials B11 onwards;
# with "scheduled" as $3 they are plugged in on the watch run's schedule, not at the start.
write_units() {
    local count=$1 i separator="" plug=""
    {
        printf '['
        for ((i = 0; i < count; i++)); do
            [ -z "${3:-}" ] ||
                plug=", \"plug_at\": $(awk -v f="$first_plug" -v p="$plug_interval" -v i="$i" \
                    'BEGIN { print f + p * i }')"
            printf '%s{"tty": "ttyUSB%d", "vid": "10c4", "pid": "ea60", "serial": "B%d",' \
                "$separator" "$i" $((11 + i))
            printf ' "product": "Bench unit", "unit": "%s"%s}' "${unit_conf//$'\n'/\\n}" "$plug"
            separator=$',\n '
        done
        echo ']'
    } >"$2"
}

# One run with $1 units: sets started, ended, status and received (each unit's record).
run_linux() {
    local count=$1 i
    write_units "$count" "$work/units-$count.json"
    # The functions go in the command: umockdev-wrapper's shell drops exported ones.
    export work native expected_size
    ORVANE_SIM_EQUIPMENT="$native/bin/orvane-sim-equipment" umockdev-wrapper /usr/bin/python3 \
        "$root/sim/umockdev/simbed.py" "$work/units-$count.json" -- \
        bash -c "$(declare -f wait_received keep_received bench_in_bed)"$'\nbench_in_bed "$1"' \
        bench "$count" \
        >>"$work/bed.log" 2>&1 || true
    if [ -s "$work/times-$count.txt" ]; then
        read -r started ended status <"$work/times-$count.txt"
    else
        started=$EPOCHREALTIME ended=$EPOCHREALTIME status=98
        cat "$work/bed.log" >>"$work/run-$count.txt"
    fi
    received=()
    for ((i = 0; i < count; i++)); do
        received+=("$work/rx-$count-$i.bin")
    done
}

# Windows: units on COM11 onwards, serials B11, B12..., as many as the largest run; each run's
# bridges file names only its own.
run_windows() {
    local count=$1 i
    : >"$work/bridges.txt"
    received=()
    for ((i = 0; i < count; i++)); do
        echo "product=\"Bench unit\" serial=B$((11 + i))" >>"$work/bridges.txt"
        : >"$equipment/port$((11 + i)).rx"
        received+=("$equipment/port$((11 + i)).rx")
    done
    started=$EPOCHREALTIME
    status=0
    wine "$build/bin/orvane-update.exe" update "$(windows_path "$work/firmware.ace")" --all \
        --yes >"$work/run-$count.txt" 2>&1 || status=$?
    ended=$EPOCHREALTIME
}

# The watch run: the units are plugged in this far apart, the first a second after the program
# started, so that it is watching by then.
plug_interval=0.5
first_plug=1.0

# Follows the program's output $1 until it holds $2 "updated" lines, or $3 seconds passed; the
# time each one was first seen goes to $work/updated-times.txt. Returns 1 when time ran out.
# shellcheck disable=SC2317 # also called through bash -c
follow_updates() {
    local out=$1 want=$2 limit=$3 seen=0 count now deadline
    deadline=$(awk -v t="$EPOCHREALTIME" -v l="$limit" 'BEGIN { printf "%.3f", t + l }')
    : >"$work/updated-times.txt"
    for (( ; ; )); do
        count=$(tr -d '\r' <"$out" | awk '$3 == "updated"' | wc -l)
        now=$EPOCHREALTIME
        for (( ; seen < count; seen++)); do
            echo "$now" >>"$work/updated-times.txt"
        done
        [ "$count" -ge "$want" ] && return 0
        awk -v n="$now" -v d="$deadline" 'BEGIN { exit !(n > d) }' && return 1
        sleep 0.02
    done
}

# Inside the watch run's test bed, whose plug-ins simbed.py makes on its schedule: runs the
# program until every unit is updated, then Ctrl+C; keeps its status, the plug-in times and what
# each unit received.
# shellcheck disable=SC2317 # called through bash -c
watch_in_bed() {
    local count=$1 pid status=0
    "$native/bin/orvane-update" watch "$work/firmware.ace" --yes </dev/null \
        >"$work/watch.txt" 2>&1 &
    pid=$!
    follow_updates "$work/watch.txt" "$count" 120 || true
    kill -INT "$pid"
    wait "$pid" || status=$?
    echo "$status" >"$work/watch-status.txt"
    awk '{ print $2 }' "$ORVANE_SIMBED_STATE/plugged" >"$work/plugged.txt"
    keep_received "$count" rx-watch
}

watch_linux() {
    local count=$1 i
    write_units "$count" "$work/units-watch.json" scheduled
    export work native expected_size
    ORVANE_SIM_EQUIPMENT="$native/bin/orvane-sim-equipment" umockdev-wrapper /usr/bin/python3 \
        "$root/sim/umockdev/simbed.py" "$work/units-watch.json" -- \
        bash -c "$(declare -f wait_received keep_received follow_updates watch_in_bed)"$'\nwatch_in_bed "$1"' \
        bench "$count" >>"$work/bed.log" 2>&1 || true
    status=$(cat "$work/watch-status.txt" 2>/dev/null || echo 98)
    received=()
    for ((i = 0; i < count; i++)); do
        received+=("$work/rx-watch-$i.bin")
    done
}

# Windows: the bridges file gains a line per plug-in (written aside, then renamed, so that the
# library never reads half of it).
watch_windows() {
    local count=$1 pid i lines="" ended
    : >"$work/bridges.txt"
    : >"$work/plugged.txt"
    received=()
    for ((i = 0; i < count; i++)); do
        : >"$equipment/port$((11 + i)).rx"
        received+=("$equipment/port$((11 + i)).rx")
    done
    wine "$build/bin/orvane-update.exe" watch "$(windows_path "$work/firmware.ace")" --yes \
        </dev/null >"$work/watch.txt" 2>&1 &
    pid=$!
    for ((i = 0; i < 600; i++)); do
        grep -qs "^Watching" "$work/watch.txt" && break
        sleep 0.05
    done
    sleep $first_plug
    for ((i = 0; i < count; i++)); do
        ((i == 0)) || sleep $plug_interval
        lines+="product=\"Bench unit\" serial=B$((11 + i))"$'\n'
        printf '%s' "$lines" >"$work/bridges.new"
        mv "$work/bridges.new" "$work/bridges.txt"
        echo "$EPOCHREALTIME" >>"$work/plugged.txt"
    done
    follow_updates "$work/watch.txt" "$count" 120 || true
    kill -INT "$pid" 2>/dev/null || true
    for ((ended = 0; ended < 100; ended++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    status=0
    wait "$pid" || status=$?
}

if [ -z "$linux" ]; then
    ports=()
    mkdir -p "$work/equipment"
    for ((i = 0; i < max; i++)); do
        ports+=($((11 + i)))
        printf '%s\n' "$unit_conf" >"$work/equipment/port$((11 + i)).conf"
    done
    sim_units_start "${ports[@]}"
    export ORVANE_SIM_BRIDGES
    ORVANE_SIM_BRIDGES=$(windows_path "$work/bridges.txt")
fi

# Every unit received exactly the version query, the program command and the whole file; else
# says which did not, and sets failed.
check_received() {
    local rx
    short=()
    for rx in "${received[@]}"; do
        wait_received "$rx"
        cmp -s "$rx" "$work/expected.bin" ||
            short+=("$(basename "$rx"): $(stat -c %s "$rx" 2>/dev/null || echo 0) bytes")
    done
}

# The discovery run: "list" $discovery_runs times with $1 units; each time in seconds goes to
# $work/list-COUNT.txt.
# shellcheck disable=SC2317 # called through bash -c
list_in_bed() {
    local count=$1 run started
    for ((run = 0; run < discovery_runs; run++)); do
        started=$EPOCHREALTIME
        "$native/bin/orvane-update" list </dev/null >"$work/list-out-$count.txt" 2>&1
        awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f\n", b - a }' \
            >>"$work/list-$count.txt"
    done
}

list_linux() {
    local count=$1 i separator=""
    {
        printf '['
        for ((i = 0; i < count; i++)); do
            printf '%s{"tty": "ttyUSB%d", "vid": "10c4", "pid": "ea60", "serial": "B%d",' \
                "$separator" "$i" $((11 + i))
            printf ' "product": "Bench unit", "unit": "reply=0105"}'
            separator=$',\n '
        done
        echo ']'
    } >"$work/units-list-$count.json"
    export work native discovery_runs
    ORVANE_SIM_EQUIPMENT="$native/bin/orvane-sim-equipment" umockdev-wrapper /usr/bin/python3 \
        "$root/sim/umockdev/simbed.py" "$work/units-list-$count.json" -- \
        bash -c "$(declare -f list_in_bed)"$'\nlist_in_bed "$1"' bench "$count" \
        >>"$work/bed.log" 2>&1 || true
}

list_windows() {
    local count=$1 i run started
    : >"$work/bridges.txt"
    for ((i = 0; i < count; i++)); do
        echo "product=\"Bench unit\" serial=B$((11 + i))" >>"$work/bridges.txt"
        sim_configure $((11 + i)) "reply=0105"
    done
    for ((run = 0; run < discovery_runs; run++)); do
        started=$EPOCHREALTIME
        wine "$build/bin/orvane-update.exe" list </dev/null >"$work/list-out-$count.txt" 2>&1 || true
        seconds_between "$started" "$EPOCHREALTIME" >>"$work/list-$count.txt"
        echo >>"$work/list-$count.txt"
    done
}

if [ -n "$discovery" ]; then
    echo "list, units that answer at once; median of $discovery_runs runs each"
    printf '%-6s %-10s %s\n' units median "runs"
    declare -A median
    failed=0
    for count in "${counts[@]}"; do
        : >"$work/list-$count.txt"
        if [ -n "$linux" ]; then
            list_linux "$count"
        else
            list_windows "$count"
        fi
        median[$count]=$(sort -n "$work/list-$count.txt" | awk 'NF { v[n++] = $1 }
            END { printf "%.3f", n ? v[int(n / 2)] : 0 }')
        printf '%-6s %-10s %s\n' "$count" "${median[$count]} s" "$(sort -n "$work/list-$count.txt" | xargs)"
        listed=$(tr -d '\r' <"$work/list-out-$count.txt" | grep -c "Bench unit" || true)
        if [ "$listed" -ne "$count" ]; then
            echo "  listed $listed of $count units:"
            sed 's/^/  /' "$work/list-out-$count.txt"
            failed=1
        fi
    done
    awk -v a="${median[1]}" -v b="${median[16]}" \
        'BEGIN { if (a > 0) printf "16 units / 1 unit: %.2f\n", b / a }'
    exit $failed
fi

if [ -n "$watch" ]; then
    count=$watch_units
    if [ -n "$linux" ]; then
        watch_linux "$count"
    else
        watch_windows "$count"
    fi
    updated=$(wc -l <"$work/updated-times.txt")
    check_received
    echo "watch, $count units plugged in ${plug_interval} s apart, 1 MiB file each, paced at" \
        "$rate bytes/s"
    if [ "$updated" -eq "$count" ] && [ -s "$work/plugged.txt" ]; then
        first=$(head -1 "$work/plugged.txt")
        last=$(tail -1 "$work/plugged.txt")
        done_at=$(tail -1 "$work/updated-times.txt")
        elapsed=$(seconds_between "$first" "$done_at")
        watch_floor=$(awk -v a="$first" -v b="$last" -v f="$floor" 'BEGIN { printf "%.2f", b - a + f }')
        printf '%-28s %-36s %-8s %s\n' "first plug-in to last" "floor: last plug-in + $floor s" \
            ratio "units per hour"
        printf '%-28s %-36s %-8s %s\n' "$elapsed s" "$watch_floor s" \
            "$(awk -v e="$elapsed" -v f="$watch_floor" 'BEGIN { printf "%.3f", e / f }')" \
            "$(awk -v e="$elapsed" -v n="$count" 'BEGIN { printf "%.0f", n * 3600 / e }')"
    fi
    if [ "$status" -ne 0 ] || [ "$updated" -ne "$count" ] || [ ${#short[@]} -gt 0 ]; then
        echo "  the run did not update every unit (exit $status, $updated updated):"
        for rx in "${short[@]}"; do
            printf '  not exactly "ver\\r" twice, "pgm\\r" and the %d-byte file: %s\n' "$firmware_size" "$rx"
        done
        tr -d '\r' <"$work/watch.txt" | sed 's/^/  /'
        exit 1
    fi
    exit 0
fi

echo "update --all, 1 MiB file, each unit paced at $rate bytes/s; line-rate floor $floor s"
printf '%-6s %-10s %-10s %-10s %s\n' units command transfer floor "transfer/floor"
failed=0
for count in "${counts[@]}"; do
    if [ -n "$linux" ]; then
        run_linux "$count"
    else
        run_windows "$count"
    fi
    # The slowest unit's transfer, from the program's table (RESULT, then SECONDS last).
    transfer=$(tr -d '\r' <"$work/run-$count.txt" |
        awk '$4 == "updated" && NF == 6 { if ($NF > max) max = $NF } END { printf "%.2f", max }')
    updated=$(tr -d '\r' <"$work/run-$count.txt" | awk '$4 == "updated" && NF == 6' | wc -l)
    check_received
    printf '%-6s %-10s %-10s %-10s %s\n' "$count" "$(seconds_between "$started" "$ended") s" \
        "$transfer s" "$floor s" "$(awk -v t="$transfer" -v f="$floor" 'BEGIN { printf "%.3f", t / f }')"
    if [ "$status" -ne 0 ] || [ "$updated" -ne "$count" ] || [ ${#short[@]} -gt 0 ]; then
        echo "  the run did not update every unit (exit $status, $updated updated):"
        for rx in "${short[@]}"; do
            printf '  not exactly "ver\\r" twice, "pgm\\r" and the %d-byte file: %s\n' "$firmware_size" "$rx"
        done
        sed 's/^/  /' "$work/run-$count.txt"
        failed=1
    fi
done
exit $failed
