#!/usr/bin/env bash
# The Linux packages, made twice into temporary folders (the second time under umask 077):
#   - the same bytes both times;
#   - the .deb: its exact file list, root's files with the commit's time, its control fields,
#     a stripped program that runs, a manual page that names every option of --help, the udev
#     rule, the bash completion, and no error from lintian;
#   - the tarball: its exact file list in one folder, root's files, the install notes filled in.
# Nothing is installed.
#   usage: bash tests/packaging/linux-packages.sh [NATIVE_BUILD_DIR]
#   Without a build folder, scripts/package-linux.sh makes a clean one (about a minute more).
set -uo pipefail
export TZ=UTC
root=$(cd "$(dirname "$0")/../.." && pwd)
from=()
if [ $# -gt 0 ]; then
    from=(--from-build "$(cd "$1" && pwd)")
fi
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}
work=$(mktemp -d /tmp/orvane-linux-packages.XXXXXX)
trap 'rm -rf "$work"' EXIT
epoch=$(git -C "$root" log -1 --format=%ct)

package() {
    local dist=$1
    (umask "$2" && ORVANE_DIST_DIR="$dist" bash "$root/scripts/package-linux.sh" "${from[@]}") \
        >"$dist.log" 2>&1 || {
        fail "package-linux.sh failed:"
        cat "$dist.log"
        exit 1
    }
}
package "$work/one" 022
# The packaged program comes from the first run's build; the second packs that same program.
[ ${#from[@]} -gt 0 ] || from=(--from-build "$root/build-package-linux")
package "$work/two" 077
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "${from[1]}/CMakeCache.txt")
deb=orvane-update_${version}_amd64.deb
tarball=orvane-update-$version-linux-x86_64.tar.gz
for artifact in "$deb" "$tarball"; do
    if [ ! -f "$work/one/$artifact" ]; then
        fail "no $artifact"
        exit 1
    fi
    cmp -s "$work/one/$artifact" "$work/two/$artifact" || fail "two runs made different $artifact"
done
bad=$(ORVANE_DIST_DIR="$work/bad" bash "$root/scripts/package-linux.sh" --from 2>&1)
[ $? -eq 1 ] && [[ $bad == usage:* ]] || fail "a bad argument is not refused with the usage: $bad"

# The .deb's files: names, then owners, modes and times.
deb_files=$(dpkg-deb -c "$work/one/$deb")
names=$(awk '{print $NF}' <<<"$deb_files" | grep -v '/$' | tr '\n' ' ')
expected="./usr/bin/orvane-update ./usr/lib/udev/rules.d/70-orvane-update.rules "
expected+="./usr/share/bash-completion/completions/orvane-update "
expected+="./usr/share/doc/orvane-update/changelog.gz ./usr/share/doc/orvane-update/copyright "
expected+="./usr/share/man/man1/orvane-update.1.gz "
[ "$names" = "$expected" ] || fail "the .deb holds $names"
stamp=$(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M')
awk -v stamp="$stamp" '$2 != "root/root" || $4 " " $5 != stamp' <<<"$deb_files" | grep . &&
    fail "the .deb has entries not owned by root or not of the commit's time"
grep -q '^-rwxr-xr-x .* ./usr/bin/orvane-update$' <<<"$deb_files" ||
    fail "the program is not mode 0755"
grep -E '^-' <<<"$deb_files" | grep -v ' ./usr/bin/orvane-update$' | grep -v '^-rw-r--r-- ' &&
    fail "the .deb has data files that are not mode 0644"

# The control fields.
field() {
    dpkg-deb -f "$work/one/$deb" "$1"
}
[ "$(field Package)" = orvane-update ] && [ "$(field Version)" = "$version" ] &&
    [ "$(field Architecture)" = amd64 ] && [ "$(field Priority)" = optional ] ||
    fail "control: $(field Package) $(field Version) $(field Architecture) $(field Priority)"
[[ $(field Section) =~ ^(utils|electronics)$ ]] || fail "control: section $(field Section)"
[[ $(field Maintainer) =~ ^.+\ \<.+@.+\>$ ]] || fail "control: maintainer $(field Maintainer)"
depends=$(field Depends)
for library in libc6 libstdc++6 libgcc-s1; do
    [[ ", $depends" == *", $library (>= "[0-9]* ]] || fail "control: no versioned $library in $depends"
done
[ -n "$(field Description)" ] || fail "control: no description"

# The files themselves.
mkdir -p "$work/deb"
dpkg-deb -x "$work/one/$deb" "$work/deb"
program=$work/deb/usr/bin/orvane-update
file -b "$program" | grep -q 'x86-64.*, stripped' || fail "the program is not stripped: $(file -b "$program")"
help=$("$program" --help) || fail "the packaged program's --help fails"
manual=$(MANWIDTH=200 man -l "$work/deb/usr/share/man/man1/orvane-update.1.gz" 2>"$work/man.err")
[ ! -s "$work/man.err" ] || fail "the manual page has warnings: $(cat "$work/man.err")"
grep -q "orvane-update $version" <<<"$manual" || fail "the manual page does not give the version"
for option in $(grep -o -- '--[a-z-]*' <<<"$help" | sort -u); do
    grep -q -- "$option" <<<"$manual" || fail "the manual page does not mention $option"
done
for gz in usr/share/man/man1/orvane-update.1.gz usr/share/doc/orvane-update/changelog.gz; do
    # gzip -n: no name and a zero time in the header (bytes 3 to 7).
    [ "$(od -An -tx1 -j3 -N5 "$work/deb/$gz" | tr -d ' ')" = 0000000000 ] ||
        fail "$gz carries a name or a time"
done
rule=$(<"$work/deb/usr/lib/udev/rules.d/70-orvane-update.rules")
for part in 'ATTRS{idVendor}=="10c4"' 'ATTRS{product}=="*Orvane*"' 'TAG+="uaccess"' \
    'ENV{ID_MM_DEVICE_IGNORE}="1"' 'SUBSYSTEM!="tty"'; do
    [[ $rule == *"$part"* ]] || fail "the udev rule lacks $part"
done
# The completion as written, and bash takes it: it registers itself for the program.
completion=$work/deb/usr/share/bash-completion/completions/orvane-update
cmp -s "$completion" "$root/packaging/linux/orvane-update.bash" || fail "the completion differs"
[ "$(bash --norc -c "source '$completion' && complete -p orvane-update")" = \
    "complete -F _orvane_update orvane-update" ] || fail "the completion registers no function"
head -n 1 "$work/deb/usr/share/doc/orvane-update/copyright" |
    grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
    fail "the copyright file is not in the machine-readable format"
grep -rlI '@[A-Z]*@' "$work/deb" && fail "a placeholder is left in the .deb"

# lintian's word that it runs as root is left out.
lintian --fail-on error --display-info "$work/one/$deb" 2>&1 |
    grep -v 'running with root privileges' >"$work/lintian.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "lintian reports errors: $(cat "$work/lintian.log")"
grep -E '^[EW]: ' "$work/lintian.log" && echo "(lintian warnings above)"

# The tarball: one folder with the same files and the install notes.
tar_files=$(tar -tvzf "$work/one/$tarball")
names=$(awk '{print $NF}' <<<"$tar_files" | grep -v '/$' | tr '\n' ' ')
folder=orvane-update-$version
expected="$folder/README $folder/bin/orvane-update "
expected+="$folder/share/bash-completion/completions/orvane-update "
expected+="$folder/share/doc/orvane-update/copyright "
expected+="$folder/share/man/man1/orvane-update.1.gz $folder/udev/70-orvane-update.rules "
[ "$names" = "$expected" ] || fail "the tarball holds $names"
awk '$2 != "0/0"' <<<"$tar_files" | grep . && fail "the tarball has entries not owned by 0/0"
mkdir -p "$work/tar"
tar -xzf "$work/one/$tarball" -C "$work/tar"
cmp -s "$work/tar/$folder/bin/orvane-update" "$program" || fail "the tarball's program differs from the .deb's"
readme=$(<"$work/tar/$folder/README")
[[ $readme == *"orvane-update_${version}_amd64.deb"* && $readme == *udevadm\ control\ --reload* ]] ||
    fail "the README does not say how to install"
grep -rlI '@[A-Z]*@' "$work/tar" && fail "a placeholder is left in the tarball"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "Linux packages: $deb and $tarball, twice alike, lintian without errors."
