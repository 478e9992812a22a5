#!/usr/bin/env bash
# Sets up, builds and runs every test under Wine on a private virtual display. Arguments go to
# ctest (for example -R Serial); without any, the checks of the cached Wine prefix run first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANE_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

if [ $# -eq 0 ]; then
    bash "$root/scripts/tests/wine-prefix-cache.sh"
fi

source "$root/scripts/wine-session.sh"
trap wine_session_stop EXIT
wine_session_start
export ORVANE_SIM_EQUIPMENT="$build/sim-equipment/orvane-sim-equipment"

cd "$build"
ctest --output-on-failure --timeout 300 "$@"
