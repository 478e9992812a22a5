#!/usr/bin/env bash
# Sets up, builds and runs the native suite, then every Windows test under Wine on a private
# virtual display. Arguments go to the Windows suite's ctest (for example -R Serial); without any,
# the checks of the cached Wine prefix run first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANE_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh" test

# Runs "$@" with its output in the file $1, which is shown only when it fails.
quiet_step() {
    local log=$1
    shift
    "$@" >"$log" 2>&1 || {
        echo "Failed: $*; its last lines (all of them in $log):" >&2
        tail -n 40 "$log" >&2
        return 1
    }
}

# The native suite first, in a build of its own: the engine against the simulated units, and
# the console program under umockdev. Seconds, not minutes.
native=${ORVANE_NATIVE_BUILD_DIR:-$root/build-linux}
started=$SECONDS
native_build() {
    cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=ON &&
        # The simulator's own tests run with the Windows suite, so their program is not built
        # here.
        cmake --build "$native" --target native_engine_tests orvane-update orvane-sim-equipment
}
mkdir -p "$native"
quiet_step "$native/build.log" native_build
echo "Built the native suite in $((SECONDS - started)) s (the compiler's output: $native/build.log)."
ctest --test-dir "$native" --output-on-failure --timeout 120 -j2 -E "^sim_equipment_"

# The native suite again under AddressSanitizer and UndefinedBehaviorSanitizer, the threaded
# console parts under ThreadSanitizer, then each fuzz target for a few seconds (docs/reliability.md
# has longer runs).
started=$SECONDS
bash "$root/scripts/sanitizers.sh"
bash "$root/scripts/fuzz.sh" "${ORVANE_FUZZ_SECONDS:-2}"
echo "The sanitizers and the fuzz targets took $((SECONDS - started)) s."

# The web page: its engine in WebAssembly, then the page in a real headless Chromium against
# simulated units (as root: the suite binds what the browser needs in a mount namespace).
web_build=${ORVANE_WEB_BUILD_DIR:-$root/build-web}
started=$SECONDS
mkdir -p "$web_build"
quiet_step "$web_build/build.log" "$root/scripts/build-web.sh"
echo "Built the web page in $((SECONDS - started)) s (the compiler's output: $web_build/build.log)."
NODE_PATH=/usr/share/nodejs node "$root/tests/web/engine_tests.mjs" \
    "${ORVANE_WEB_BUILD_DIR:-$root/build-web}/site" "$root/tests/firmware/verdict-cases.txt"
ORVANE_SIM_EQUIPMENT="$native/bin/orvane-sim-equipment" \
    bash "$root/sim/web/webbed.sh" "${ORVANE_WEB_BUILD_DIR:-$root/build-web}/site" \
    "$root/tests/web/web_tests.py"

"$root/scripts/build.sh"
# The 32-bit program is checked statically (packaging_build_checks), not run.
if [ -x /usr/lib/wine/wine ]; then
    echo "The 32-bit program is checked, not run: its tests are built for 64 bits only."
else
    echo "The 32-bit program is checked, not run: Wine here has no 32-bit part (wine32:i386)," \
        "and installing it breaks wine on this machine."
fi

if [ $# -eq 0 ]; then
    bash "$root/scripts/tests/wine-prefix-cache.sh"
fi

source "$root/scripts/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start
export ORVANE_SIM_EQUIPMENT="$build/sim-equipment/orvane-sim-equipment"

cd "$build"
ctest --output-on-failure --timeout 300 "$@"
