#!/usr/bin/env bash
# Configures and builds the sanitized build (clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# with libFuzzer's coverage) of the named targets: the fuzz targets and the native suite share it.
# Any report of a sanitizer ends the program that made it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANE_ASAN_BUILD_DIR:-$root/build-asan}
# -O1 with line tables only: reports name their lines, and the build stays quick.
flags="-O1 -gline-tables-only -fno-omit-frame-pointer"
flags+=" -fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all"
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE= \
    -DORVANE_FUZZ=ON -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" >/dev/null
cmake --build "$build" --target "$@"
