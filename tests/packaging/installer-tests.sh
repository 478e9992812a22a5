#!/usr/bin/env bash
# The packages of a finished build, in the test run's Wine session:
#   - without a certificate or bridge libraries: the one-line "unsigned" notice, nothing but the
#     programs (the window and the console program) and their texts in the zips, and two runs giving the same bytes;
#   - signed with a throw-away certificate and carrying the simulated bridge libraries: the
#     signatures verify, each zip holds the library of its bitness;
#   - the installer over an older version, then again over itself, and its uninstaller, all
#     silent: files, shortcut, uninstall entry, the user's "LastFile" kept throughout, and one
#     complete update by the installed program against the simulated equipment.
#   usage: bash tests/packaging/installer-tests.sh BUILD_DIR   (from scripts/test.sh's session)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: installer-tests.sh BUILD_DIR}" && pwd)
if [ -z "${WINEPREFIX:-}" ]; then
    echo "installer-tests.sh: no Wine session (run the tests through scripts/test.sh)" >&2
    exit 2
fi
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
work=$(mktemp -d /tmp/orvane-installer-tests.XXXXXX)
trap 'rm -rf "$work"' EXIT
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name="OrvaneUpdateUtility-$version"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvaneUpdateUtility'
settings_key='HKCU\Software\Orvane\OrvaneUpdateUtility\Settings'
last_file='C:\Orvane\firmware\Amplifier-v006.ace'

# Wine's output goes to a file: its helper processes would hold a pipe open.
quietly() {
    "$@" >>"$work/wine.log" 2>&1
}
# A registry value's data as "reg query" shows it; empty when there is none.
reg_value() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
# A folder of the user's profile, e.g. %APPDATA%, as Windows names it.
profile_folder() {
    wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r'
}
seconds_since() {
    awk -v start="$1" -v now="$EPOCHREALTIME" 'BEGIN { printf "%.1f", now - start }'
}
package() {
    local dist=$1
    shift
    env ORVANE_DIST_DIR="$dist" "$@" bash "$root/scripts/package.sh" --from-build "$build" \
        --windows-only >"$dist.log" 2>&1 || {
        fail "package.sh failed:"
        cat "$dist.log"
    }
}
zip_names() {
    unzip -Z1 "$1" | tr '\n' ' '
}

# Unsigned, nothing bundled, twice.
package "$work/plain"
package "$work/again"
grep -q "the artifacts are unsigned" "$work/plain.log" || fail "no word that the artifacts are unsigned"
for artifact in "$name-win64.zip" "$name-win32.zip" "$name-setup.exe" "$name-web.zip" SHA256SUMS; do
    cmp -s "$work/plain/$artifact" "$work/again/$artifact" ||
        fail "two runs made different $artifact"
done
(cd "$work/plain" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
[ "$(zip_names "$work/plain/$name-web.zip")" = "app.js icon-192.png icon-256.png index.html manifest.webmanifest orvane-engine.js orvane-engine.wasm style.css sw.js " ] ||
    fail "web zip holds $(zip_names "$work/plain/$name-web.zip")"
for bits in 64 32; do
    [ "$(zip_names "$work/plain/$name-win$bits.zip")" = "OrvaneUpdateUtility.exe orvane-update.exe README.txt LICENSES.txt " ] ||
        fail "win$bits zip holds $(zip_names "$work/plain/$name-win$bits.zip")"
    unzip -p "$work/plain/$name-win$bits.zip" README.txt | tr -d '\r' | tr '\n' ' ' |
        grep -q "does not include it. Copy the $bits-bit CP210xManufacturing.dll" ||
        fail "win$bits README does not say where the bridge library comes from"
done

# Signed with a certificate made here, the simulated libraries standing in for the maker's.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Orvane test signing" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" \
    >/dev/null 2>&1
echo "throw-away password" >"$work/password"
openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -out "$work/cert.pfx" \
    -passout "file:$work/password"
package "$work/signed" ORVANE_SIGN_PFX="$work/cert.pfx" \
    ORVANE_SIGN_PASSWORD_FILE="$work/password" \
    ORVANE_BRIDGE_DLL_WIN64="$build/bin/CP210xManufacturing.dll" \
    ORVANE_BRIDGE_DLL_WIN32="$build/x86/bin/CP210xManufacturing.dll"
grep -q "unsigned" "$work/signed.log" && fail "a signed run says the artifacts are unsigned"
verify() {
    osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1 ||
        fail "the signature of $2 does not verify: $(grep -i -m1 'fail\|error' "$work/verify.log")"
}
for bits in 64 32; do
    mkdir -p "$work/win$bits"
    unzip -q -o "$work/signed/$name-win$bits.zip" -d "$work/win$bits"
    verify "$work/win$bits/OrvaneUpdateUtility.exe" "the win$bits program"
    verify "$work/win$bits/orvane-update.exe" "the win$bits console program"
    [ "$(zip_names "$work/signed/$name-win$bits.zip")" = "OrvaneUpdateUtility.exe orvane-update.exe README.txt LICENSES.txt CP210xManufacturing.dll " ] ||
        fail "signed win$bits zip holds $(zip_names "$work/signed/$name-win$bits.zip")"
done
cmp -s "$work/win64/CP210xManufacturing.dll" "$build/bin/CP210xManufacturing.dll" &&
    cmp -s "$work/win32/CP210xManufacturing.dll" "$build/x86/bin/CP210xManufacturing.dll" ||
    fail "a zip holds the bridge library of the other bitness"
verify "$work/signed/$name-setup.exe" "the installer"
echo "Packages: unsigned twice alike, signed ones verify."

# An older version to upgrade from: the same files, built as 1.9.0.
makensis -V1 -DVERSION=1.9.0 -DFILES="$work/win64" -DICON="$root/src/res/app.ico" -DBRIDGE \
    -DOUTFILE="$work/older-setup.exe" "$root/packaging/installer.nsi" >/dev/null ||
    fail "the older installer cannot be built"
quietly wine reg add "$settings_key" /v LastFile /d "$last_file" /f
quietly wine "$work/older-setup.exe" /S || fail "the older installer failed"
[ "$(reg_value "$uninstall_key" DisplayVersion)" = 1.9.0 ] || fail "the older version is not installed"

installed_files="CP210xManufacturing.dll LICENSES.txt OrvaneUpdateUtility.exe README.txt Uninstall.exe orvane-update.exe "
check_installed() {
    local when=$1 location folder shortcut
    location=$(reg_value "$uninstall_key" InstallLocation)
    [ "$location" = "$(profile_folder LOCALAPPDATA)\Programs\Orvane\Update Utility" ] ||
        fail "$when: installed in '$location'"
    folder=$(winepath -u "$location" 2>/dev/null)
    [ "$(cd "$folder" 2>/dev/null && LC_ALL=C ls | tr '\n' ' ')" = "$installed_files" ] ||
        fail "$when: the folder holds $(ls "$folder" 2>&1 | tr '\n' ' ')"
    shortcut=$(winepath -u "$(profile_folder APPDATA)")
    [ -f "$shortcut/Microsoft/Windows/Start Menu/Programs/Orvane Update Utility.lnk" ] ||
        fail "$when: no Start-menu shortcut"
    local value expected actual
    for value in "DisplayName=Orvane Update Utility" "DisplayVersion=$version" \
        "Publisher=Orvane" "UninstallString=\"$location\\Uninstall.exe\"" \
        "QuietUninstallString=\"$location\\Uninstall.exe\" /S" "NoModify=0x1" "NoRepair=0x1"; do
        expected=${value#*=}
        actual=$(reg_value "$uninstall_key" "${value%%=*}")
        # A reg query under load has now and then printed nothing: one more read tells that
        # apart from a wrong value, and says so.
        if [ "$actual" != "$expected" ]; then
            echo "$when: ${value%%=*} read as '$actual', reading again"
            sleep 0.5
            actual=$(reg_value "$uninstall_key" "${value%%=*}")
        fi
        [ "$actual" = "$expected" ] || fail "$when: ${value%%=*} is '$actual'"
    done
    [ "$(reg_value "$uninstall_key" EstimatedSize)" != "" ] || fail "$when: no EstimatedSize"
    [ "$(reg_value "$settings_key" LastFile)" = "$last_file" ] || fail "$when: LastFile is lost"
    cmp -s "$folder/OrvaneUpdateUtility.exe" "$work/win64/OrvaneUpdateUtility.exe" ||
        fail "$when: the installed program is not the one in the win64 zip"
    cmp -s "$folder/orvane-update.exe" "$work/win64/orvane-update.exe" ||
        fail "$when: the installed console program is not the one in the win64 zip"
}

started=$EPOCHREALTIME
quietly wine "$work/signed/$name-setup.exe" /S || fail "the installer failed"
echo "Installed over 1.9.0 in $(seconds_since "$started") s."
check_installed "over 1.9.0"
location=$(reg_value "$uninstall_key" InstallLocation)
folder=$(winepath -u "$location" 2>/dev/null)
verify "$folder/Uninstall.exe" "the uninstaller"

# One complete update by the installed program.
ORVANE_PROGRAM="$location\\OrvaneUpdateUtility.exe" bash "$root/scripts/wine-exec.sh" \
    "$build/bin/app_tests.exe" --gtest_filter='EndToEnd.*' >"$work/update.log" 2>&1 ||
    fail "the installed program did not complete an update: $(cat "$work/update.log")"
grep -q '\[  PASSED  \] 1 test' "$work/update.log" || fail "the update test did not run"
# The installed console program starts and knows its exit codes.
wine "$location\\orvane-update.exe" --help >"$work/console.log" 2>&1 ||
    fail "the installed console program failed: $(cat "$work/console.log")"
grep -q "130  cancelled" "$work/console.log" || fail "the installed console program gave no help"

quietly wine reg add "$settings_key" /v LastFile /d "$last_file" /f
started=$EPOCHREALTIME
quietly wine "$work/signed/$name-setup.exe" /S || fail "the installer failed over itself"
echo "Installed over $version in $(seconds_since "$started") s."
check_installed "over $version"

# A file of the user's stays, and so does the folder that holds it.
echo "mine" >"$folder/notes.txt"
started=$EPOCHREALTIME
quietly wine "$folder/Uninstall.exe" /S || fail "the uninstaller failed"
# The uninstaller runs from a copy of itself in the temporary folder and returns at once.
for ((i = 0; i < 300; i++)); do
    [ -z "$(reg_value "$uninstall_key" DisplayName)" ] && [ ! -e "$folder/Uninstall.exe" ] && break
    sleep 0.1
done
echo "Uninstalled in $(seconds_since "$started") s."
[ "$(cd "$folder" 2>/dev/null && ls | tr '\n' ' ')" = "notes.txt " ] ||
    fail "after the uninstall the folder holds $(ls "$folder" 2>&1 | tr '\n' ' ')"
shortcut=$(winepath -u "$(profile_folder APPDATA)")
[ ! -e "$shortcut/Microsoft/Windows/Start Menu/Programs/Orvane Update Utility.lnk" ] ||
    fail "the shortcut is still there"
wine reg query "$uninstall_key" >/dev/null 2>&1 && fail "the uninstall entry is still there"
[ "$(reg_value "$settings_key" LastFile)" = "$last_file" ] || fail "the uninstall removed LastFile"
quietly wine reg delete 'HKCU\Software\Orvane' /f

[ "$failures" -eq 0 ]
