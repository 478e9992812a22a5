#!/usr/bin/env bash
# Installs the Debian packages that one purpose needs, with apt-get, only those missing:
#   run        the window under Wine on a virtual display, with its simulated equipment
#   console    the console program on Linux against simulated units under umockdev
#   web        the web page in Chromium against simulated units
#   web-build  the web page's engine in WebAssembly
#   package    the packages (scripts/package.sh)
#   fuzz       the fuzz targets and the sanitizer builds (clang, libFuzzer, the sanitizers)
#   test       the tests: all of the above and the test libraries
# usage: bash scripts/setup.sh PURPOSE...
#
# With everything there it makes no apt call at all. Otherwise it prints one line naming the
# packages and a log file, installs them, and shows the package manager's output only when the
# install fails. The run command's sets go without their recommended packages (each lists what it
# needs, as checked on a fresh machine); the test command and packaging take them, as CI always
# has.
set -euo pipefail

# The native build: the simulated equipment, the console program and the native tests.
native=(cmake ninja-build g++)
# The 64-bit Windows build, with Debian's default (win32) thread model.
windows=(g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64)
# Wine and its virtual display, with the fonts and the X extensions' libraries that Wine takes
# at run time. The window's font comes from Liberation Sans: without it, from DejaVu Sans, and the
# window is a sixth wider than in the pictures.
wine=(wine wine64 fonts-wine fonts-liberation xvfb libxcomposite1 libxcursor1 libxfixes3 libxi6
      libxinerama1 libxrandr2 libxrender1 libxxf86vm1)
# The scripted run's checks of the display and its screenshots.
screen=(x11-utils imagemagick)
# The test bed that shows a program /sys and /dev/ttyUSBn.
umockdev=(umockdev gir1.2-umockdev-1.0 python3-gi)
# The web page's engine in WebAssembly.
wasm=(emscripten)
# The browser that runs the page, with the fonts its pictures were made with: without DejaVu,
# fontconfig gives the page's sans-serif text Liberation Mono.
browser=(chromium chromium-driver python3-selenium fonts-dejavu-core fonts-liberation)
# The packages: the 32-bit build, the installer, signing, zips, checksums, the .deb.
packaging=(g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 nsis osslsigncode zip unzip openssl
           dpkg-dev binutils)
# clang with libFuzzer and the sanitizers' runtimes, which clang-14 does not pull in by itself.
sanitizers=(clang-14 libclang-rt-14-dev)
# The tests' own: GoogleTest's sources, the .deb's check, the scripted campaigns.
tests=(googletest lintian python3)

usage="usage: bash scripts/setup.sh run|console|web|web-build|package|fuzz|test..."
[ $# -gt 0 ] || {
    echo "$usage" >&2
    exit 2
}
wanted=()
recommends=(--no-install-recommends)
for purpose in "$@"; do
    [[ "$purpose" == test || "$purpose" == package ]] && recommends=()
    case "$purpose" in
    run) wanted+=("${native[@]}" "${windows[@]}" "${wine[@]}" "${screen[@]}") ;;
    console) wanted+=("${native[@]}" "${umockdev[@]}") ;;
    web) wanted+=("${native[@]}" "${umockdev[@]}" "${wasm[@]}" "${browser[@]}") ;;
    web-build) wanted+=("${wasm[@]}") ;;
    fuzz) wanted+=("${native[@]}" "${umockdev[@]}" "${sanitizers[@]}" googletest) ;;
    package) wanted+=("${native[@]}" "${windows[@]}" "${packaging[@]}" "${wasm[@]}") ;;
    test)
        wanted+=("${native[@]}" "${windows[@]}" "${wine[@]}" "${screen[@]}" "${umockdev[@]}"
                 "${wasm[@]}" "${browser[@]}" "${packaging[@]}" "${sanitizers[@]}" "${tests[@]}")
        ;;
    *)
        echo "$usage" >&2
        exit 2
        ;;
    esac
done

# One dpkg-query for the whole set; a package it does not know is missing.
installed=$(dpkg-query -W -f='${db:Status-Status} ${Package}\n' "${wanted[@]}" 2>/dev/null |
    sed -n 's/^installed //p' || true)
missing=()
for package in "${wanted[@]}"; do
    grep -qxF "$package" <<<"$installed" || [[ " ${missing[*]} " == *" $package "* ]] ||
        missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Run this command as root, or install them first:" \
        "sudo apt-get install ${recommends[*]} ${missing[*]}" >&2
    exit 1
fi

log=$(mktemp /tmp/orvane-setup.XXXXXX.log)
echo "Installing: ${missing[*]} (the package manager's output: $log)"
started=$SECONDS
export DEBIAN_FRONTEND=noninteractive
# Waits for another apt or dpkg (an automatic upgrade after boot) instead of failing at once;
# skipping dpkg's fsync of each file makes unpacking several times faster, as Debian's container
# images do.
install_missing() {
    apt-get install -y "${recommends[@]}" -o DPkg::Lock::Timeout=600 \
        -o Dpkg::Options::=--force-unsafe-io "${missing[@]}"
}
# The package lists are fetched only when the install cannot do with the ones there (none on a
# fresh machine, or old ones whose files have gone).
if ! { install_missing || { apt-get update -o DPkg::Lock::Timeout=600 && install_missing; }; } \
    >"$log" 2>&1; then
    echo "Installing failed; the package manager's last lines (all of them in $log):" >&2
    tail -n 30 "$log" >&2
    exit 1
fi
echo "Installed in $((SECONDS - started)) s."
