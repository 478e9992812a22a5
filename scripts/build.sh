#!/usr/bin/env bash
# Configures and builds into build/ (cross-compiled for Windows), quietly: one line at the end,
# the compiler's output in build/build.log, shown when the build fails.
#   bash scripts/build.sh          everything: the 64-bit programs, the demo, the tests, and the
#                                  32-bit programs into build/x86/
#   bash scripts/build.sh window   what the window demo runs (scripts/run.sh): the 64-bit window,
#                                  the simulated bridge library, the scripted user and the
#                                  simulated equipment; a new build directory is configured
#                                  without the tests and the 32-bit build, whose packages it
#                                  does not need
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANE_BUILD_DIR:-$root/build}
configure=(cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
           -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake")
started=$SECONDS

case "${1:-}" in
"")
    what="everything"
    configure+=(-DORVANE_BUILD_TESTS=ON -DORVANE_BUILD_DEMO=ON -DORVANE_BUILD_X86=ON)
    targets=()
    ;;
window)
    what="the window and its simulated equipment"
    # A configured directory (with the tests or without) is kept as it is: cmake --build
    # configures it again by itself when a CMakeLists.txt has changed.
    if [ -e "$build/build.ninja" ]; then
        configure=()
    else
        configure+=(-DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_DEMO=ON -DORVANE_BUILD_X86=OFF)
    fi
    targets=(--target OrvaneUpdateUtility sim_bridges orvane-demo-user sim_equipment)
    ;;
*)
    echo "usage: bash scripts/build.sh [window]" >&2
    exit 2
    ;;
esac

mkdir -p "$build"
log=$build/build.log
if ! { { [ ${#configure[@]} -eq 0 ] || "${configure[@]}"; } &&
    cmake --build "$build" "${targets[@]}"; } >"$log" 2>&1; then
    echo "The build failed; its last lines (all of them in $log):" >&2
    tail -n 40 "$log" >&2
    exit 1
fi
echo "Built $what in $((SECONDS - started)) s (the compiler's output: $log)."
