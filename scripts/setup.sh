#!/usr/bin/env bash
# Installs what building and testing need, with apt-get, only where it is missing. With "fuzz",
# only what the fuzz targets and the sanitizer builds need (scripts/fuzz.sh, scripts/sanitizers.sh).
set -euo pipefail

# clang with libFuzzer and the sanitizers' runtimes, which clang-14 does not pull in by itself.
sanitizer_packages=(clang-14 libclang-rt-14-dev)

packages=(cmake ninja-build g++ g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64
          xvfb googletest imagemagick x11-utils
          # The x86 build and the packages: installer, signing, zips, checksums.
          g++-mingw-w64-i686 binutils-mingw-w64-i686 nsis osslsigncode zip unzip openssl python3
          # The Linux packages: the .deb, its dependencies and its check.
          dpkg-dev binutils lintian
          # The native suite: the test bed that shows a program /sys and /dev/ttyUSBn.
          umockdev gir1.2-umockdev-1.0 python3-gi
          # The web page: its engine in WebAssembly, and the browser that tests it.
          emscripten chromium chromium-driver python3-selenium
          "${sanitizer_packages[@]}")
if [ "${1:-}" = fuzz ]; then
    packages=(cmake ninja-build googletest umockdev gir1.2-umockdev-1.0 python3-gi
              "${sanitizer_packages[@]}")
fi
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}"
fi
