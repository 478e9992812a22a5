# shellcheck shell=bash
# shellcheck disable=SC2154 # $root, $build and $work are set by the caller
# Sourced by the scripts that drive orvane-update.exe against simulated units (the benchmark, the
# soak, the malformed-file campaign): a Wine session, the simulated bridge library, the bridges'
# port names in Wine's registry and the simulated equipment on pseudo-terminals.
#
# The caller sets $root and $build, and $work to a private folder; sim_units_start then gives
# $equipment (the simulator's state folder). Bridge serial numbers are "B<port>", so a bridges
# file line 'product="X" serial=B11' is the unit on COM11.

# shellcheck source=scripts/wine-session.sh
source "$root/scripts/wine-session.sh"

sim_pid=""
sim_seq=0

windows_path() {
    local path=${1//\//\\}
    printf 'Z:%s' "$path"
}

seconds_between() {
    awk -v start="$1" -v end="$2" 'BEGIN { printf "%.2f", end - start }'
}

# Starts the Wine session and the units on the given ports, each set up by
# $equipment/portN.conf if the caller wrote one before (the default otherwise).
sim_units_start() {
    equipment="$work/equipment"
    mkdir -p "$equipment"
    wine_session_start
    local port
    {
        echo REGEDIT4
        for port in "$@"; do
            printf '\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_10c4&Pid_ea60\\B%d\\Device Parameters]\n"PortName"="COM%d"\n' "$port" "$port"
        done
    } >"$work/ports.reg"
    wine reg import "$(windows_path "$work/ports.reg")" >>"$work/wine.log" 2>&1
    "$build/sim-equipment/orvane-sim-equipment" --lifetime 36000 --parent-pid $$ \
        "$equipment" "$WINEPREFIX/dosdevices" "$@" >"$work/equipment.log" 2>&1 &
    sim_pid=$!
    local i
    for ((i = 0; i < 200; i++)); do
        [ -e "$equipment/ready" ] && break
        sleep 0.05
    done
    [ -e "$equipment/ready" ] || {
        echo "The simulated equipment did not start:" >&2
        cat "$work/equipment.log" "$equipment/failed" 2>/dev/null >&2 || true
        return 1
    }
}

# Stops the units (their links go) and the Wine session; safe to call twice.
sim_units_stop() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
    fi
    wine_session_stop
}

# Gives the unit on port $1 the behaviour in $2 ("key=value" lines) and waits until the
# simulator has applied it. Returns 1 if it was rejected or not applied within 5 s.
sim_configure() {
    local port=$1 conf=$2 i
    sim_seq=$((sim_seq + 1))
    printf '%s\nseq=%d\n' "$conf" "$sim_seq" >"$equipment/port$port.conf.new"
    mv "$equipment/port$port.conf.new" "$equipment/port$port.conf"
    for ((i = 0; i < 500; i++)); do
        if grep -qx "seq=$sim_seq" "$equipment/port$port.applied" 2>/dev/null; then
            grep -q '^status=ok' "$equipment/port$port.applied" && return 0
            echo "port $port rejected its conf: $(cat "$equipment/port$port.applied")" >&2
            return 1
        fi
        sleep 0.01
    done
    echo "port $port did not apply its conf" >&2
    return 1
}

# Empties what the unit on port $1 has recorded (bytes received and events).
sim_clear() {
    : >"$equipment/port$1.rx"
    : >"$equipment/port$1.events"
}
