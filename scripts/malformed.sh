#!/usr/bin/env bash
# A malformed-file campaign: N firmware files of 0 to 1024 bytes, most of them near the sizes
# where the header's fields begin and end, with random or adversarial bytes in the two header
# fields (signs, blanks, NULs, bytes above 127, digits in every position). Each goes through
#   orvane-update check FILE --port COMn
# against a simulated unit whose reported model and firmware are drawn too. An oracle written
# here from the documented header rules (not from the program's code) says which refusal, or
# acceptance with which model and version, each file must get; the script reports every
# mismatch and every crash, and fails unless both are 0. The same seed gives the same files.
#   usage: bash scripts/malformed.sh N [SEED]
# SEED defaults to 1. ORVANE_JOBS checks go at the same time (default 4), each job on a unit of
# its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANE_BUILD_DIR:-$root/build}
# shellcheck source=scripts/sim-units.sh
source "$root/scripts/sim-units.sh"
read_count_and_seed "bash scripts/malformed.sh N [SEED]   (N files, 1 or more; SEED a number)" "$@"

"$root/scripts/setup.sh" test
"$root/scripts/build.sh"
sim_units_work malformed

# The files and, for each, what it must get: one line per file,
#   index reply status model version refusal
# with the refusal's words joined by "_" ("-" when accepted, model and version "-" when the
# header cannot be read).
mkdir -p "$work/files"
python3 - "$count" "$seed" "$work/files" >"$work/plan.txt" <<'EOF'
import random, sys

count, seed, folder = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
rng = random.Random(seed)

DEVICE_AT, VERSION_AT, HEADER = 257, 259, 512
C_SPACE = b" \t\n\v\f\r"  # isspace() in the C locale


def scan_decimal(field):
    """sscanf(field, "%d") on a text of at most two characters that ends at a NUL: white space
    skipped, an optional sign, then at least one digit; whatever follows is ignored. None when
    no number is converted."""
    text = field[:2].split(b"\0", 1)[0]
    i = 0
    while i < len(text) and text[i] in C_SPACE:
        i += 1
    sign = 1
    if i < len(text) and text[i] in b"+-":
        sign = -1 if text[i] == ord("-") else 1
        i += 1
    digits = b""
    while i < len(text) and 48 <= text[i] <= 57:
        digits += bytes([text[i]])
        i += 1
    return sign * int(digits) if digits else None


def signed(byte):
    return byte - 256 if byte >= 128 else byte


def verdict(data, reply):
    """(exit code, model, version, refusal text) that check must give."""
    if len(data) < HEADER:
        return 3, None, None, "Source file too short to retrieve header information"
    device = scan_decimal(data[DEVICE_AT:DEVICE_AT + 2])
    version = scan_decimal(data[VERSION_AT:VERSION_AT + 2])
    if device is None or version is None:
        return 3, None, None, "Unable to get device ID from file"
    unit_device, unit_version = signed(reply[0]), signed(reply[1])
    if device != unit_device:
        return 3, device, version, "This file is not meant for the connected equipment"
    if version < unit_version:
        return 3, device, version, "This file version is older than the current firmware"
    if version == unit_version:
        return 3, device, version, "Your equipment already has the latest firmware installed"
    return 0, device, version, None


DIGITS = b"0123456789"
PIECES = [DIGITS, b"+-", C_SPACE, b"\0", bytes(range(128, 256)), b"xAZ.,/:", bytes(range(256))]


def adversarial_field():
    kind = rng.randrange(6)
    if kind == 0:  # two digits
        return bytes(rng.choice(DIGITS) for _ in range(2))
    if kind == 1:  # a digit in one position, anything in the other
        digit, other = rng.choice(DIGITS), rng.choice(rng.choice(PIECES))
        return bytes([digit, other] if rng.random() < 0.5 else [other, digit])
    if kind == 2:  # a sign or blank, then a digit or not
        second = rng.choice(DIGITS) if rng.random() < 0.5 else rng.choice(rng.choice(PIECES))
        return bytes([rng.choice(b"+-" + C_SPACE), second])
    if kind == 3:  # NULs, blanks and signs only
        return bytes(rng.choice(b"\0+- \t") for _ in range(2))
    if kind == 4:  # bytes above 127 around a digit or not
        return bytes(rng.choice([rng.randrange(128, 256), rng.choice(DIGITS)]) for _ in range(2))
    return rng.randbytes(2)


def size_near_boundary():
    kind = rng.randrange(20)
    if kind < 5:  # anywhere
        return rng.randint(0, 1024)
    if kind < 8:  # cut inside or next to the fields
        return rng.choice([DEVICE_AT, VERSION_AT, VERSION_AT + 2]) + rng.randint(-2, 2)
    if kind < 13:  # at the end of the header
        return HEADER + rng.randint(-3, 3)
    return rng.randint(HEADER, 1024)  # a whole header


REPLIES = [bytes([1, 5]), bytes([1, 0]), bytes([1, 99]), bytes([7, 6]), bytes([0, 0]),
           bytes([0xFF, 0xFF]), bytes([1, 0x80]), bytes([0x80, 1]), bytes([42, 0x7F])]

for index in range(count):
    size = size_near_boundary()
    data = bytearray(rng.randbytes(size))
    reply = rng.choice(REPLIES)
    # Most files carry the unit's own model in a readable form, so that the version matters.
    device = adversarial_field() if rng.random() < 0.6 else b"%02d" % max(0, signed(reply[0]))
    version = adversarial_field()
    header = bytes(data[:HEADER]) + bytes(max(0, HEADER - size))
    header = header[:DEVICE_AT] + device + version + header[VERSION_AT + 2:]
    data[:min(size, HEADER)] = header[:min(size, HEADER)]
    with open("%s/f%05d.ace" % (folder, index), "wb") as file:
        file.write(data)
    status, model, firmware, refusal = verdict(bytes(data), reply)
    print(index, reply.hex().upper(), status, "-" if model is None else model,
          "-" if firmware is None else firmware, "-" if refusal is None else refusal.replace(" ", "_"))
EOF

sim_units_for_jobs 31 "Campaign unit"

# One check; appends "index verdict" to $results, the verdict "ok", "mismatch" or "crash".
one_check() {
    local port=$1 bridges=$2 results=$3 index=$4 reply=$5 want_status=$6 model=$7 version=$8
    local refusal=${9//_/ }
    local file
    file="$work/files/$(printf 'f%05d.ace' "$index")"
    local out="$work/check-$index.out" status verdict=ok
    sim_configure "$port" "reply=$reply" || verdict="conf-rejected"
    ORVANE_SIM_BRIDGES=$(windows_path "$bridges") wine_run "$out" \
        "$build/bin/orvane-update.exe" check "$(windows_path "$file")" --port "COM$port"
    status=$run_status
    tr -d '\r' <"$out" >"$out.txt"
    if [ "$status" -gt 4 ] || grep -qiE 'unhandled (exception|page fault)|backtrace' "$out.txt"; then
        verdict=crash
    elif [ "$status" -ne "$want_status" ]; then
        verdict=mismatch
    elif [ "$refusal" = - ] && ! grep -qE ": accepted$" "$out.txt"; then
        verdict=mismatch
    elif [ "$refusal" != - ] && ! grep -qF "$refusal" "$out.txt"; then
        verdict=mismatch
    elif [ "$model" != - ] &&
        ! grep -qF ": model $model, version $(printf '%.3d' "$version")," "$out.txt"; then
        verdict=mismatch
    elif [ "$model" = - ] && grep -qF "accepted" "$out.txt"; then
        verdict=mismatch
    fi
    echo "$index $verdict $status" >>"$results"
    if [ "$verdict" != ok ]; then
        echo "file $index (unit $reply, expected exit $want_status, model $model, version" \
            "$version, ${refusal}): $verdict, exit $status" >&2
        sed 's/^/    /' "$out.txt" >&2
        od -A d -t x1 -j 250 -N 16 "$file" | sed 's/^/    /' >&2
        cp "$file" "$work/failed-$index.ace"
    fi
    rm -f "$out" "$out.txt"
}

run_job() {
    local job=$1
    local index reply status model version refusal
    while read -r index reply status model version refusal; do
        one_check "${job_ports[$job]}" "$work/bridges-$job.txt" "$work/results-$job.txt" \
            "$index" "$reply" "$status" "$model" "$version" "$refusal"
    done < <(plan_for_job "$job")
}

echo "malformed files: $count, seed $seed, $jobs at a time"
started=$EPOCHREALTIME
run_jobs run_job
ended=$EPOCHREALTIME

python3 - "$work/plan.txt" "$work/results.txt" "$(seconds_between "$started" "$ended")" \
    "$(restarts_note)" <<'EOF'
import sys
plan = {line.split()[0]: line.split() for line in open(sys.argv[1])}
results = [line.split() for line in open(sys.argv[2])]
rows = {}
for index, verdict, status in results:
    refusal = plan[index][5].replace("_", " ")
    expected = "accepted" if refusal == "-" else refusal
    row = rows.setdefault(expected, [0, 0, 0])
    row[0] += 1
    row[1] += verdict == "mismatch" or verdict == "conf-rejected"
    row[2] += verdict == "crash"
print("%-60s %5s %10s %7s" % ("EXPECTED", "FILES", "MISMATCHES", "CRASHES"))
for expected, (files, mismatches, crashes) in sorted(rows.items(), key=lambda item: -item[1][0]):
    print("%-60s %5d %10d %7d" % (expected, files, mismatches, crashes))
if sys.argv[4]:
    print(sys.argv[4])
mismatches = sum(row[1] for row in rows.values())
crashes = sum(row[2] for row in rows.values())
missing = len(plan) - len(results)
print("%d files in %s s: %d mismatches, %d crashes%s" % (
    len(results), sys.argv[3], mismatches, crashes,
    ", %d not run" % missing if missing else ""))
sys.exit(1 if mismatches or crashes or missing else 0)
EOF
