#!/usr/bin/env bash
# Static checks of the two builds' programs, as a Windows PC would meet them: machine, GUI
# subsystem for the window and console subsystem for orvane-update, no link time, imports from
# system DLLs only (no mingw runtime DLL travels with them), the same resources with the project's version, and the simulated bridge library of
# each bitness with the calls at their ordinals.
#   usage: bash tests/packaging/check-builds.sh BUILD_DIR
set -uo pipefail
build=${1:?usage: check-builds.sh BUILD_DIR}
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
IFS=. read -r major minor patch <<<"$version"
# Windows' own DLLs; anything else would have to travel with the program.
system_dlls=" advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll "
system_dlls+="ole32.dll oleaut32.dll setupapi.dll shell32.dll user32.dll version.dll winspool.drv "
work=$(mktemp -d /tmp/orvane-check-builds.XXXXXX)
trap 'rm -rf "$work"' EXIT

# check_program BITS TOOL_PREFIX PE_FORMAT PROGRAM SUBSYSTEM_NUMBER SUBSYSTEM_NAME
check_program() {
    local bits=$1 tools=$2 format=$3 program=$4 subsystem=$5 kind=$6 name
    name=$(basename "$program" .exe)
    local header
    header=$("$tools-objdump" -p "$program")
    grep -q "file format $format\$" <<<"$header" || fail "$bits-bit $name is not $format"
    grep -Eq "^Subsystem[[:space:]]+0000000$subsystem" <<<"$header" ||
        fail "$bits-bit $name is not a $kind program"
    grep -Eq '^Time/Date[[:space:]]+(Thu Jan  1 00:00:00 1970|00000000)' <<<"$header" ||
        fail "$bits-bit $name carries a link time"
    local imports dll foreign=""
    imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$header" | tr 'A-Z' 'a-z')
    for dll in $imports; do
        [[ $system_dlls == *" $dll "* ]] || foreign+=" $dll"
    done
    [ -z "$foreign" ] || fail "$bits-bit $name imports from DLLs that are not Windows':$foreign"
    echo "$bits-bit $name: $format, $kind, imports from" $imports

    "$tools-windres" -i "$program" -O rc -o "$work/$name-$bits.rc" ||
        fail "$bits-bit $name: its resources cannot be read"
    grep -q "FILEVERSION $major, $minor, $patch, 0" "$work/$name-$bits.rc" &&
        grep -q "VALUE \"ProductVersion\", \"$major, $minor, $patch, 0\"" "$work/$name-$bits.rc" ||
        fail "$bits-bit $name's version resource is not $version"
}

# check_build BITS TOOL_PREFIX PE_FORMAT FOLDER
check_build() {
    local bits=$1 tools=$2 format=$3 folder=$4
    local program="$folder/OrvaneUpdateUtility.exe" console="$folder/orvane-update.exe"
    local library="$folder/CP210xManufacturing.dll"
    if [ ! -f "$program" ] || [ ! -f "$console" ] || [ ! -f "$library" ]; then
        fail "$bits-bit build: $program, $console or $library is missing"
        return
    fi
    check_program "$bits" "$tools" "$format" "$program" 2 GUI
    check_program "$bits" "$tools" "$format" "$console" 3 console
    # The console program's manifest: no elevation, UTF-8 as its code page.
    grep -q 'requestedExecutionLevel level=""asInvoker""' "$work/orvane-update-$bits.rc" &&
        grep -q 'activeCodePage.*UTF-8' "$work/orvane-update-$bits.rc" ||
        fail "$bits-bit orvane-update's manifest does not ask for asInvoker and UTF-8"

    local exports ordinal
    grep -q "file format $format\$" <(
        "$tools-objdump" -p "$library"
    ) || fail "$bits-bit simulated bridge library is not $format"
    exports=$("$tools-objdump" -p "$library" | sed -n 's/.*+base\[ *\([0-9]*\)\].*/\1/p')
    for ordinal in 1 3 4 12 13 14 15; do
        grep -qx "$ordinal" <<<"$exports" ||
            fail "$bits-bit simulated bridge library exports no ordinal $ordinal"
    done
}

check_build 64 x86_64-w64-mingw32 pei-x86-64 "$build/bin"
check_build 32 i686-w64-mingw32 pei-i386 "$build/x86/bin"
for name in OrvaneUpdateUtility orvane-update; do
    if ! cmp -s "$work/$name-64.rc" "$work/$name-32.rc"; then
        fail "the 32-bit and 64-bit $name programs' resources differ:"
        diff "$work/$name-64.rc" "$work/$name-32.rc" | head -20
    fi
done

[ "$failures" -eq 0 ]
