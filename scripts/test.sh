#!/usr/bin/env bash
# Sets up, builds and runs every test under Wine on a private virtual display. Arguments go to
# ctest (for example -R Serial); without any, the checks of the cached Wine prefix run first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANE_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
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
