# shellcheck shell=bash
# shellcheck disable=SC2154,SC2034 # variables set by the caller, and run_status for it
# Sourced by the scripts that drive orvane-update.exe against simulated units (the benchmark, the
# soak, the malformed-file campaign): a Wine session, the simulated bridge library, the bridges'
# port names in Wine's registry and the simulated equipment on pseudo-terminals.
#
# The caller sets $root and $build and calls sim_units_work for its private folder $work;
# sim_units_start then gives $equipment (the simulator's state folder). Bridge serial numbers are
# "B<port>", so a bridges file line 'product="X" serial=B11' is the unit on COM11.

# shellcheck source=scripts/wine-session.sh
source "$root/scripts/wine-session.sh"

sim_pid=""
sim_seq=0

# Makes the private folder $work (/tmp/orvane-$1.XXXXXX); at exit the units and the session stop
# and the folder goes, unless ORVANE_KEEP_WORK is set (for a post mortem).
sim_units_work() {
    work=$(mktemp -d "/tmp/orvane-$1.XXXXXX")
    trap sim_units_cleanup EXIT
    trap 'exit 130' INT TERM
}

sim_units_cleanup() {
    sim_units_stop
    [ -n "${ORVANE_KEEP_WORK:-}" ] || rm -rf "$work"
}

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

# The campaigns: "N [SEED]" into $count and $seed (default 1), and ORVANE_JOBS (default 4), the
# runs at the same time, into $jobs; anything else prints "usage: $1" and exits with 2.
read_count_and_seed() {
    local usage=$1
    shift
    count=${1:-}
    seed=${2:-1}
    jobs=${ORVANE_JOBS:-4}
    [[ $# -le 2 && $count =~ ^[1-9][0-9]*$ && $seed =~ ^[0-9]+$ && $jobs =~ ^[1-9][0-9]?$ ]] || {
        echo "usage: $usage" >&2
        exit 2
    }
}

# One unit per job, on COM$1 onwards, each with its own bridges file $work/bridges-JOB.txt naming
# only it (product $2), so that a run of one job never opens another job's port.
sim_units_for_jobs() {
    local first=$1 product=$2 job
    job_ports=()
    for ((job = 0; job < jobs; job++)); do
        job_ports+=($((first + job)))
        echo "product=\"$product\" serial=B$((first + job))" >"$work/bridges-$job.txt"
    done
    sim_units_start "${job_ports[@]}"
}

# The lines of $work/plan.txt that job $1 runs: every jobs-th, by the number that starts them.
plan_for_job() {
    awk -v jobs="$jobs" -v job="$1" '$1 % jobs == job' "$work/plan.txt"
}

# Runs "$1 JOB" for every job at the same time, each appending lines to $work/results-JOB.txt,
# and waits for all; $work/results.txt then holds every line, ordered by its first number.
run_jobs() {
    local job pid pids=()
    for ((job = 0; job < jobs; job++)); do
        : >"$work/results-$job.txt"
        "$1" "$job" &
        pids+=($!)
    done
    for pid in "${pids[@]}"; do
        wait "$pid"
    done
    cat "$work"/results-*.txt | sort -n >"$work/results.txt"
}

# Runs the Windows program "$2 ..." under Wine through the test runner's wine-exec.sh, its
# output into $1 and its input from /dev/null, and sets run_status and run_seconds. wine-exec.sh
# starts a program again when Wine ended before it wrote a byte (the console program always says
# why it ends); each such start is listed in $work/restarts.
wine_run() {
    local out=$1 started
    shift
    started=$EPOCHREALTIME
    run_status=0
    timeout 300 bash "$root/scripts/wine-exec.sh" "$@" </dev/null >"$out" 2>>"$work/restarts" ||
        run_status=$?
    run_seconds=$(seconds_between "$started" "$EPOCHREALTIME")
}

# "Wine starts made again: N" when wine_run had to, for the summary.
restarts_note() {
    [ -s "$work/restarts" ] && echo "Wine starts made again (no output at all): $(wc -l <"$work/restarts")"
    return 0
}
