#!/usr/bin/env bash
# Builds the Linux packages of the console program from a clean native build into dist/:
#   orvane-update_<version>_amd64.deb               /usr/bin/orvane-update, its manual page, the
#                                                   copyright file and changelog, the udev rule
#   orvane-update-<version>-linux-x86_64.tar.gz     the same files in orvane-update-<version>/,
#                                                   with a README of install notes
# scripts/package.sh calls it and lists both in SHA256SUMS.
#
# Environment (each optional):
#   ORVANE_DIST_DIR        where the packages go (default: dist/)
#   ORVANE_DEB_MAINTAINER  the .deb's Maintainer field
#   SOURCE_DATE_EPOCH      the time stamp of the packaged files (default: the commit's time)
#
# usage: bash scripts/package-linux.sh [--from-build DIR]
#   --from-build DIR  package the program of a finished native build (DIR/bin/orvane-update)
#                     instead of making a clean one in build-package-linux/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: bash scripts/package-linux.sh [--from-build DIR]"
build=""
case "${1:-}" in
"") ;;
--from-build)
    build=$(cd "${2:?$usage}" && pwd)
    ;;
*)
    echo "$usage" >&2
    exit 1
    ;;
esac
dist=${ORVANE_DIST_DIR:-$root/dist}
maintainer=${ORVANE_DEB_MAINTAINER:-Orvane <support@orvane.example>}

"$root/scripts/setup.sh" package
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
export TZ=UTC LC_ALL=C.UTF-8

if [ -z "$build" ]; then
    build=$root/build-package-linux
    rm -rf "$build"
    # Debian's hardening flags (fortified functions, stack protector, read-only relocations,
    # immediate binding), with the checkout's path mapped away.
    (
        cd "$root"
        export DEB_BUILD_MAINT_OPTIONS=hardening=+all
        CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
        CFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
        LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
        export CXXFLAGS CFLAGS LDFLAGS
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DORVANE_BUILD_TESTS=OFF >/dev/null
    )
    cmake --build "$build" --target orvane-update
fi
program=$build/bin/orvane-update
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
if [ -z "$version" ] || [ ! -x "$program" ]; then
    echo "package-linux.sh: no project version or no bin/orvane-update in $build" >&2
    exit 1
fi
case $(file -b "$program") in
*ELF\ 64-bit*x86-64*) ;;
*)
    echo "package-linux.sh: $program is not an x86-64 Linux program" >&2
    exit 1
    ;;
esac

work=$(mktemp -d /tmp/orvane-package-linux.XXXXXX)
trap 'rm -rf "$work"' EXIT
date_text=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%d)
# The copyright years: from the first commit's to this one's ("2024-2026", or "2026").
first_year=$(git -C "$root" log --reverse --format=%cd --date=format:%Y | sed -n 1p)
last_year=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y)
years=$last_year
[ -z "$first_year" ] || [ "$first_year" = "$last_year" ] || years="$first_year-$last_year"

# The dependencies from the libraries the program links, as Debian's tools compute them.
mkdir -p "$work/shlibs/debian"
printf 'Source: orvane-update\n\nPackage: orvane-update\nArchitecture: amd64\n' \
    >"$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O -e"$program" 2>/dev/null |
    sed -n 's/^shlibs:Depends=//p')
if [ -z "$depends" ]; then
    echo "package-linux.sh: dpkg-shlibdeps found no dependencies of $program" >&2
    exit 1
fi
glibc=$(sed -n 's/.*libc6 (>= \([^)]*\)).*/\1/p' <<<"$depends")

# The files under a prefix: bin/, share/man/man1/, share/doc/orvane-update/, and the bash
# completion in share/bash-completion/completions/ (where bash-completion looks under /usr and
# /usr/local).
install_common() {
    local prefix=$1
    install -d -m 0755 "$prefix/bin" "$prefix/share/man/man1" "$prefix/share/doc/orvane-update"
    install -D -m 0644 "$root/packaging/linux/orvane-update.bash" \
        "$prefix/share/bash-completion/completions/orvane-update"
    strip --strip-unneeded --remove-section=.comment --remove-section=.note -o \
        "$prefix/bin/orvane-update" "$program"
    chmod 0755 "$prefix/bin/orvane-update"
    sed -e "s/@VERSION@/$version/g" -e "s/@DATE@/$date_text/g" \
        "$root/packaging/linux/orvane-update.1" | gzip -9n >"$prefix/share/man/man1/orvane-update.1.gz"
    sed "s/@YEARS@/$years/g" "$root/packaging/linux/copyright" \
        >"$prefix/share/doc/orvane-update/copyright"
}

# Same dates and modes on every run.
normalise() {
    find "$1" -type d -exec chmod 0755 {} +
    find "$1" -type f ! -path '*/bin/*' -exec chmod 0644 {} +
    find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

# The .deb.
deb=$work/deb
install_common "$deb/usr"
{
    printf 'orvane-update (%s) unstable; urgency=medium\n\n' "$version"
    printf '  * Release %s.\n\n' "$version"
    printf ' -- %s  %s\n' "$maintainer" "$(date -u -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n >"$deb/usr/share/doc/orvane-update/changelog.gz"
install -D -m 0644 "$root/packaging/linux/70-orvane-update.rules" \
    "$deb/usr/lib/udev/rules.d/70-orvane-update.rules"
install -d -m 0755 "$deb/DEBIAN"
(cd "$deb" && find usr -type f | sort | xargs md5sum) >"$deb/DEBIAN/md5sums"
# Installed-Size as dpkg-gencontrol counts it: KiB per file, rounded up, and one per folder.
installed_size=$(find "$deb/usr" -printf '%y %s\n' |
    awk '$1 == "d" { total += 1 } $1 != "d" { total += int(($2 + 1023) / 1024) } END { print total }')
cat >"$deb/DEBIAN/control" <<EOF
Package: orvane-update
Version: $version
Architecture: amd64
Maintainer: $maintainer
Installed-Size: $installed_size
Depends: $depends
Section: electronics
Priority: optional
Description: firmware updater for Orvane audio equipment
 Lists the Orvane units attached through USB-to-UART bridges (vendor 10C4),
 checks a firmware file against a unit (model, newer version) and sends it
 at 460800 baud with RTS/CTS handshaking, to one unit or to all at once.
 .
 A udev rule gives the user at the seat access to the bridges of Orvane
 equipment and keeps ModemManager from probing them.
EOF
normalise "$deb"
mkdir -p "$dist"
deb_name="orvane-update_${version}_amd64.deb"
rm -f "$dist"/orvane-update_*_amd64.deb "$dist"/orvane-update-*-linux-x86_64.tar.gz
dpkg-deb --root-owner-group -Zxz --build "$deb" "$dist/$deb_name" >/dev/null

# The tarball: the same files in one folder, with install notes.
folder_name="orvane-update-$version"
folder=$work/tar/$folder_name
install_common "$folder"
install -D -m 0644 "$root/packaging/linux/70-orvane-update.rules" \
    "$folder/udev/70-orvane-update.rules"
sed -e "s/@VERSION@/$version/g" -e "s/@GLIBC@/$glibc/g" "$root/packaging/linux/README" \
    >"$folder/README"
normalise "$folder"
tar_name="$folder_name-linux-x86_64.tar.gz"
tar -C "$work/tar" --sort=name --format=gnu --owner=0 --group=0 --numeric-owner \
    --mtime="@$SOURCE_DATE_EPOCH" -cf - "$folder_name" | gzip -9n >"$dist/$tar_name"

echo "Packaged orvane-update $version for Linux into $dist:"
(cd "$dist" && ls -l --time-style=+ "$deb_name" "$tar_name" | awk '{print "  " $NF " (" $5 " bytes)"}')
