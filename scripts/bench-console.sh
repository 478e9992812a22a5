#!/usr/bin/env bash
# Times "orvane-update update FILE --all --yes" against 1, 4 and 8 simulated units, each taking
# data no faster than 460800 baud allows (46,080 bytes/s), with a 1 MiB firmware file, and
# prints each run's time beside the line-rate floor: the 4 + 1,048,576 bytes of one unit at
# 46,080 bytes/s, 22.76 s. Not a test: the figures depend on the machine and its load.
#   usage: bash scripts/bench-console.sh [COUNT ...]   (default: 1 4 8)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANE_BUILD_DIR:-$root/build}
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(1 4 8)
max=0
for count in "${counts[@]}"; do
    [[ $count =~ ^[1-9][0-9]?$ ]] || {
        echo "usage: bash scripts/bench-console.sh [COUNT ...]  (1 to 99 units each)" >&2
        exit 2
    }
    ((count > max)) && max=$count
done

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

# shellcheck source=scripts/sim-units.sh
source "$root/scripts/sim-units.sh"
sim_units_work bench

firmware_size=$((1024 * 1024))
rate=46080
floor=$(awk -v bytes=$((firmware_size + 4)) -v rate=$rate 'BEGIN { printf "%.2f", bytes / rate }')

# Units on COM11 onwards, model 1 with firmware 005, serials B11, B12...
ports=()
mkdir -p "$work/equipment"
for ((i = 0; i < max; i++)); do
    ports+=($((11 + i)))
    printf 'reply=0105\nmode=paced\npaced_rate=%d\n' "$rate" >"$work/equipment/port$((11 + i)).conf"
done
sim_units_start "${ports[@]}"

# A 1 MiB firmware file for model 1, version 006.
{
    printf '%-257.257s' "Orvane benchmark firmware"
    printf '0106'
    head -c 251 /dev/zero
    head -c $((firmware_size - 512)) /dev/urandom
} >"$work/firmware.ace"
export ORVANE_SIM_BRIDGES
ORVANE_SIM_BRIDGES=$(windows_path "$work/bridges.txt")

echo "update --all, 1 MiB file, each unit paced at $rate bytes/s; line-rate floor $floor s"
printf '%-6s %-10s %-10s %-10s %s\n' units command transfer floor "transfer/floor"
failed=0
for count in "${counts[@]}"; do
    : >"$work/bridges.txt"
    for ((i = 0; i < count; i++)); do
        echo "product=\"Bench unit\" serial=B$((11 + i))" >>"$work/bridges.txt"
        : >"$equipment/port$((11 + i)).rx"
    done
    started=$EPOCHREALTIME
    status=0
    wine "$build/bin/orvane-update.exe" update "$(windows_path "$work/firmware.ace")" --all \
        --yes >"$work/run-$count.txt" 2>&1 || status=$?
    ended=$EPOCHREALTIME
    # The slowest unit's transfer, from the program's table (the SECONDS column).
    transfer=$(tr -d '\r' <"$work/run-$count.txt" |
        awk '/^COM[0-9]+ .* updated / { if ($NF > max) max = $NF } END { printf "%.2f", max }')
    updated=$(tr -d '\r' <"$work/run-$count.txt" | grep -c ' updated ' || true)
    # Every unit received the program command and the whole file, after its version query.
    for ((i = 0; i < count; i++)); do
        rx="$equipment/port$((11 + i)).rx"
        for ((wait = 0; wait < 100; wait++)); do
            [ "$(stat -c %s "$rx")" -ge $((firmware_size + 8)) ] && break
            sleep 0.05
        done
        [ "$(stat -c %s "$rx")" -eq $((firmware_size + 8)) ] || status=99
    done
    printf '%-6s %-10s %-10s %-10s %s\n' "$count" "$(seconds_between "$started" "$ended") s" \
        "$transfer s" "$floor s" "$(awk -v t="$transfer" -v f="$floor" 'BEGIN { printf "%.3f", t / f }')"
    if [ "$status" -ne 0 ] || [ "$updated" -ne "$count" ]; then
        echo "  the run did not update every unit (exit $status, $updated updated):"
        sed 's/^/  /' "$work/run-$count.txt"
        failed=1
    fi
done
exit $failed
