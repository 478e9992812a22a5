#!/usr/bin/env bash
# Sets up, builds and runs every test under Wine on a private virtual display.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANE_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

source "$root/scripts/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start
export ORVANE_SIM_EQUIPMENT="$build/sim-equipment/orvane-sim-equipment"

cd "$build"
ctest --output-on-failure --timeout 300 "$@"
