#!/usr/bin/env bash
# Builds the packages from clean builds of this checkout into dist/:
#   OrvaneUpdateUtility-<version>-win64.zip   the 64-bit programs (the window and the console
#                                             program), README.txt, LICENSES.txt
#   OrvaneUpdateUtility-<version>-win32.zip   the same for the 32-bit programs
#   OrvaneUpdateUtility-<version>-web.zip     the web page: a static site to serve over https
#   OrvaneUpdateUtility-<version>-setup.exe   a per-user installer of the 64-bit programs
#   orvane-update_<version>_amd64.deb,        the console program for Linux (made by
#   orvane-update-<version>-linux-x86_64.tar.gz   scripts/package-linux.sh)
#   SHA256SUMS
#
# Environment (each optional):
#   ORVANE_BRIDGE_DLL_WIN64, ORVANE_BRIDGE_DLL_WIN32
#       the bridge maker's CP210xManufacturing.dll of that bitness, put beside the program in the
#       zip of that bitness (and, for 64 bits, the installer); ORVANE_BRIDGE_LICENSE, a text file
#       of its licence terms, then goes into LICENSES.txt
#   ORVANE_SIGN_PFX, ORVANE_SIGN_PASSWORD_FILE, ORVANE_SIGN_TIMESTAMP_URL
#       a code-signing certificate: the programs, the uninstaller and the installer are signed
#   ORVANE_DIST_DIR       where the artifacts go (default: dist/)
#   SOURCE_DATE_EPOCH     the time stamp of the packaged files (default: the commit's time)
#
# usage: bash scripts/package.sh [--from-build DIR] [--from-linux-build DIR] [--windows-only]
#   --from-build DIR        package the Windows programs of a finished build (DIR/bin and
#                           DIR/x86/bin) instead of making a clean one in build-package/
#   --from-linux-build DIR  package the Linux program of a finished native build (DIR/bin)
#                           instead of making a clean one in build-package-linux/
#   --windows-only          make the Windows packages alone (no native build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: bash scripts/package.sh [--from-build DIR] [--from-linux-build DIR] [--windows-only]"
build=""
linux_build=()
linux=1
while [ $# -gt 0 ]; do
    case "$1" in
    --from-build)
        build=$(cd "${2:?$usage}" && pwd)
        shift 2
        ;;
    --from-linux-build)
        linux_build=(--from-build "$(cd "${2:?$usage}" && pwd)")
        shift 2
        ;;
    --windows-only)
        linux=""
        shift
        ;;
    *)
        echo "$usage" >&2
        exit 2
        ;;
    esac
done
dist=${ORVANE_DIST_DIR:-$root/dist}

"$root/scripts/setup.sh" package
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
# zip stores local times: the same in every time zone only in one.
export TZ=UTC

if [ -z "$build" ]; then
    build=$root/build-package
    rm -rf "$build"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
        -DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_DEMO=OFF >/dev/null
    cmake --build "$build"
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
if [ -z "$version" ]; then
    echo "package.sh: no project version in $build/CMakeCache.txt" >&2
    exit 1
fi
name="OrvaneUpdateUtility-$version"

signing=""
if [ -n "${ORVANE_SIGN_PFX:-}" ] && [ -n "${ORVANE_SIGN_PASSWORD_FILE:-}" ]; then
    signing=1
else
    echo "No code-signing certificate given (ORVANE_SIGN_PFX, ORVANE_SIGN_PASSWORD_FILE):" \
        "the artifacts are unsigned."
fi

work=$(mktemp -d /tmp/orvane-package.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Text for Windows users: CRLF line ends.
windows_text() {
    sed 's/$/\r/'
}

# Stages the files of one zip in $work/<bits>: the programs of that bitness (from the folder
# given), README.txt, LICENSES.txt, and the bridge library when one was given.
stage() {
    local bits=$1 programs=$2 bridge=$3 folder="$work/win$1"
    mkdir -p "$folder"
    cp "$programs/OrvaneUpdateUtility.exe" "$programs/orvane-update.exe" "$folder/"
    local readme bridge_text
    readme=$(<"$root/packaging/README.txt")
    if [ -n "$bridge" ]; then
        cp "$bridge" "$folder/CP210xManufacturing.dll"
        bridge_text="This package includes the ${bits}-bit CP210xManufacturing.dll as the equipment maker
supplies it: nothing else needs to be copied."
    else
        bridge_text="This package does not include it. Copy the ${bits}-bit CP210xManufacturing.dll that came
with your equipment, or that its maker offers for download, into the program's folder: for the
installed program that is %LOCALAPPDATA%\\Programs\\Orvane\\Update Utility, for a zip the folder
you unpacked it into."
    fi
    readme=${readme//@VERSION@/$version}
    readme=${readme//@BITS@/$bits}
    readme=${readme//@BRIDGE@/$bridge_text}
    printf '%s\n' "$readme" | windows_text >"$folder/README.txt"
    {
        cat "$root/packaging/LICENSES.txt"
        if [ -n "$bridge" ]; then
            printf '\n\nCP210xManufacturing.dll\n-----------------------\n\n'
            printf 'The bridge maker'"'"'s library, included as the equipment maker supplies it, under its\nmaker'"'"'s terms.\n'
            if [ -n "${ORVANE_BRIDGE_LICENSE:-}" ]; then
                printf '\n'
                cat "$ORVANE_BRIDGE_LICENSE"
            fi
        fi
    } | windows_text >"$folder/LICENSES.txt"
    if [ -n "$signing" ]; then
        bash "$root/scripts/sign.sh" "$folder/OrvaneUpdateUtility.exe"
        bash "$root/scripts/sign.sh" "$folder/orvane-update.exe"
    fi
    # Same dates and modes on every run.
    chmod 0644 "$folder"/*
    touch -h -d "@$SOURCE_DATE_EPOCH" "$folder"/*
}

# A zip of the staged folder with its files in a fixed order and no extra fields.
make_zip() {
    local folder=$1 zip=$2 files=(OrvaneUpdateUtility.exe orvane-update.exe README.txt LICENSES.txt)
    [ -e "$folder/CP210xManufacturing.dll" ] && files+=(CP210xManufacturing.dll)
    rm -f "$zip"
    (cd "$folder" && zip -q -X -D -9 "$zip" "${files[@]}")
}

stage 64 "$build/bin" "${ORVANE_BRIDGE_DLL_WIN64:-}"
stage 32 "$build/x86/bin" "${ORVANE_BRIDGE_DLL_WIN32:-}"

mkdir -p "$dist"
rm -f "$dist"/OrvaneUpdateUtility-*-win64.zip "$dist"/OrvaneUpdateUtility-*-win32.zip \
    "$dist"/OrvaneUpdateUtility-*-setup.exe "$dist/SHA256SUMS"
make_zip "$work/win64" "$dist/$name-win64.zip"
make_zip "$work/win32" "$dist/$name-win32.zip"

nsis=(-V2 -DVERSION="$version" -DFILES="$work/win64" -DICON="$root/src/res/app.ico"
      -DOUTFILE="$dist/$name-setup.exe")
[ -e "$work/win64/CP210xManufacturing.dll" ] && nsis+=(-DBRIDGE)
[ -z "$signing" ] || nsis+=(-DSIGN="bash \"$root/scripts/sign.sh\"")
makensis "${nsis[@]}" "$root/packaging/installer.nsi" >"$work/makensis.log" 2>&1 || {
    cat "$work/makensis.log" >&2
    exit 1
}
[ -z "$signing" ] || bash "$root/scripts/sign.sh" "$dist/$name-setup.exe"

echo "Packaged $name into $dist:"
(cd "$dist" && ls -l --time-style=+ "$name-win64.zip" "$name-win32.zip" "$name-setup.exe" |
    awk '{print "  " $NF " (" $5 " bytes)"}')

# The web page: the site as a zip, its files in a fixed order with the packages' time stamp.
web_site=${ORVANE_WEB_BUILD_DIR:-$root/build-web}/site
"$root/scripts/build-web.sh" >"$work/build-web.log" 2>&1 || {
    cat "$work/build-web.log" >&2
    exit 1
}
mkdir -p "$work/web"
cp "$web_site"/* "$work/web/"
touch -h -d "@$SOURCE_DATE_EPOCH" "$work/web"/*
rm -f "$dist"/OrvaneUpdateUtility-*-web.zip
(cd "$work/web" && find . -type f -printf '%P\n' | LC_ALL=C sort | zip -q -X -D -9 "$dist/$name-web.zip" -@)
echo "  $name-web.zip ($(stat -c %s "$dist/$name-web.zip") bytes)"

packages=("$name-win64.zip" "$name-win32.zip" "$name-setup.exe" "$name-web.zip")
if [ -n "$linux" ]; then
    ORVANE_DIST_DIR=$dist bash "$root/scripts/package-linux.sh" "${linux_build[@]}"
    packages+=("orvane-update_${version}_amd64.deb" "orvane-update-$version-linux-x86_64.tar.gz")
fi
(cd "$dist" && sha256sum "${packages[@]}" >SHA256SUMS)
