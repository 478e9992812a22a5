#!/usr/bin/env bash
# The native suite under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan, which the
# fuzz targets share), then the threaded console parts (update --all, watch) under
# ThreadSanitizer (build-tsan) against the native build's simulated units. A sanitizer's report
# fails the test that made it. "asan" or "tsan" runs one of the two.
#
#     bash scripts/sanitizers.sh [asan|tsan]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
asan=${ORVANE_ASAN_BUILD_DIR:-$root/build-asan}
tsan=${ORVANE_TSAN_BUILD_DIR:-$root/build-tsan}
native=${ORVANE_NATIVE_BUILD_DIR:-$root/build-linux}
which=${1:-all}

"$root/scripts/setup.sh" fuzz

# The ThreadSanitizer build, niced, compiles while the AddressSanitizer suite runs: that suite
# mostly waits for the simulated units, and together they take about as long as the suite alone.
tsan_build() {
    local flags="-O1 -gline-tables-only -fsanitize=thread -fno-omit-frame-pointer"
    CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$tsan" -G Ninja \
        -DCMAKE_BUILD_TYPE= -DORVANE_BUILD_TESTS=OFF -DCMAKE_C_FLAGS="$flags" \
        -DCMAKE_CXX_FLAGS="$flags" >/dev/null &&
        cmake --build "$tsan" --target orvane-update &&
        if [ ! -x "$native/bin/orvane-sim-equipment" ]; then
            cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null &&
                cmake --build "$native" --target orvane-sim-equipment
        fi
}

if [ "$which" != tsan ]; then
    # The fuzz targets are built with the suite, which makes scripts/fuzz.sh's build a no-op.
    mapfile -t fuzz_targets < <(ls "$root/tests/fuzz/corpus")
    bash "$root/scripts/asan-build.sh" native_engine_tests orvane-update orvane-sim-equipment \
        "${fuzz_targets[@]/#/fuzz_}"
fi
if [ "$which" != asan ]; then
    mkdir -p "$tsan"
    (renice -n 10 -p "$BASHPID" >/dev/null && tsan_build) >"$tsan/build.log" 2>&1 &
    tsan_builder=$!
fi
if [ "$which" != tsan ]; then
    # umockdev's library is preloaded before the sanitizers' runtime: allowed, as it intercepts
    # only the calls that reach the test bed. The packages are the native build's to check.
    ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:abort_on_error=1 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir "$asan" --output-on-failure --timeout 240 -j3 \
        -E "^sim_equipment_|^packaging_"
fi

if [ "$which" != asan ]; then
    wait "$tsan_builder" || {
        echo "Failed: the ThreadSanitizer build; its last lines (all of them in $tsan/build.log):" >&2
        tail -n 40 "$tsan/build.log" >&2
        exit 1
    }
    # A report ends the program with status 66, which no test expects.
    for group in UpdateAll Watch WatchEnds WatchFolder WatchRestart; do
        echo "ThreadSanitizer: $group"
        TSAN_OPTIONS="exitcode=66 halt_on_error=1 second_deadlock_stack=1" \
            ORVANE_UPDATE="$tsan/bin/orvane-update" \
            ORVANE_SIM_EQUIPMENT="$native/bin/orvane-sim-equipment" \
            umockdev-wrapper /usr/bin/python3 "$root/tests/native/console_tests.py" "$group"
    done
fi
