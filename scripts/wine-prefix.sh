# shellcheck shell=bash
# Sourced by wine-session.sh: the pristine Wine prefix kept in the cache, and the private working
# copies that runs and test sessions use.
#
# A fresh prefix takes 10 to 20 s of wineboot; a copy of a ready one takes well under a second.
# The pristine prefix is made once per Wine build and per version of these scripts, in
# ${XDG_CACHE_HOME:-~/.cache}/orvane-wine/<wine version>-<hash>/, in two parts:
#   private/  what Wine writes: the registry, dosdevices, the user folders, win.ini and the
#             rest; each copy gets its own;
#   shared/   Wine's own DLLs and programs (files that carry Wine's builtin signature, about
#             690 MB of the 700); Wine rewrites them only when it updates a prefix to a new Wine
#             build, so each copy hard-links them.
# Every copy has that update turned off ("disable" in .update-timestamp) and a new Wine build
# gets a new cache entry, so nothing writes through the links; a session checks on its way out
# that nothing did, and drops the entry if something had.

wine_prefix_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/wine-settings.sh
source "$wine_prefix_scripts/wine-settings.sh"

# The cache entry for the installed Wine and these scripts: its path on standard output.
wine_prefix_entry() {
    local version hash
    version=$(wine --version 2>/dev/null) || {
        echo "wine-prefix.sh: wine does not run" >&2
        return 1
    }
    hash=$({
        printf '%s\n' "$version" "$(id -un)" "$HOME"
        # Wine updates a prefix when this file's time changes: a rebuild of the same version.
        stat -c '%n %Y' /usr/share/wine/wine.inf /usr/local/share/wine/wine.inf 2>/dev/null || true
        cat "$wine_prefix_scripts/wine-settings.sh" "$wine_prefix_scripts/wine-prefix.sh"
    } | sha256sum | cut -c1-16)
    printf '%s/orvane-wine/%s-%s\n' "${XDG_CACHE_HOME:-${HOME:?}/.cache}" "${version%% *}" "$hash"
}

# Makes a pristine prefix in the new folder $1 (private/ and shared/, then the stamp "built").
wine_prefix_build() {
    local target=$1
    (
        # shellcheck disable=SC2030 # the build's prefix, in this subshell only
        export WINEPREFIX="$target/private"
        wine_settings_make_prefix
    ) || return 1
    if [ ! -s "$target/private/system.reg" ] || [ ! -s "$target/private/user.reg" ] ||
        ! grep -q ShowCrashDialog "$target/private/user.reg"; then
        echo "wine-prefix.sh: wineboot did not make a usable prefix in $target/private" >&2
        return 1
    fi
    printf 'disable\n' >"$target/private/.update-timestamp"
    # Wine's builtin signature directly follows the 64-byte DOS header.
    (
        cd "$target/private" &&
            find . -type f -size +1k -print0 |
            { xargs -0 grep -abo -m1 -Z 'Wine builtin DLL' || true; } |
                while IFS= read -r -d '' file && IFS= read -r found; do
                    if [ "$found" = "64:Wine builtin DLL" ]; then
                        printf '%s\0' "$file"
                    fi
                done >"$target/shared.list" &&
            mkdir ../shared &&
            xargs -0 -r cp -l --parents -t ../shared <"$target/shared.list" &&
            xargs -0 -r rm <"$target/shared.list"
    ) || return 1
    rm "$target/shared.list"
    touch "$target/built"
}

# Removes cache entries (and abandoned builds) that no session has used for a week.
wine_prefix_prune() {
    local cache=$1 current=$2 old
    while IFS= read -r -d '' old; do
        rm -rf "$old" "$old.lock"
    done < <(find "$cache" -mindepth 1 -maxdepth 1 -type d ! -path "$current" -mtime +7 -print0)
}

# Makes the pristine prefix $1 unless it is there. Parallel callers wait for one build; the build
# goes to a temporary name and is renamed into place, so nobody sees a half-made entry, and a
# caller that gives up waiting builds its own and keeps whichever was renamed first.
wine_prefix_ensure() {
    local entry=$1 lock_fd
    [ -d "$entry" ] && return 0
    mkdir -p "$(dirname "$entry")"
    exec {lock_fd}>"$entry.lock"
    if ! flock -n "$lock_fd"; then
        echo "Waiting for another run that is making the cached Wine prefix."
        flock -w 600 "$lock_fd" || true
    fi
    if [ ! -d "$entry" ]; then
        echo "Making the cached Wine prefix (once per Wine build and set-up): $entry"
        ORVANE_WINE_PREFIX_BUILDING=$(mktemp -d "$entry.building.XXXXXX")
        # Wine's programs (the wineserver above all) must not inherit the lock and keep it.
        if ! wine_prefix_build "$ORVANE_WINE_PREFIX_BUILDING" {lock_fd}>&-; then
            rm -rf "$ORVANE_WINE_PREFIX_BUILDING"
            ORVANE_WINE_PREFIX_BUILDING=""
            exec {lock_fd}>&-
            return 1
        fi
        mv -T "$ORVANE_WINE_PREFIX_BUILDING" "$entry" 2>/dev/null ||
            rm -rf "$ORVANE_WINE_PREFIX_BUILDING"
        ORVANE_WINE_PREFIX_BUILDING=""
        wine_prefix_prune "$(dirname "$entry")" "$entry"
    fi
    exec {lock_fd}>&-
}

# Makes a private working copy of the pristine prefix (building that first if need be) and
# exports it as WINEPREFIX; ORVANE_WINE_PREFIX_COPY names it too, so that only it is ever removed,
# never a prefix of the user's that WINEPREFIX named before.
wine_prefix_copy() {
    local copy
    ORVANE_WINE_PREFIX_ENTRY=$(wine_prefix_entry) || return 1
    wine_prefix_ensure "$ORVANE_WINE_PREFIX_ENTRY" || return 1
    touch "$ORVANE_WINE_PREFIX_ENTRY"
    copy=$(mktemp -d "${TMPDIR:-/tmp}/orvane-wine.XXXXXX")
    ORVANE_WINE_PREFIX_COPY=$copy
    # shellcheck disable=SC2031 # the session's prefix, unlike the build's
    export WINEPREFIX=$copy
    cp -a "$ORVANE_WINE_PREFIX_ENTRY/private/." "$copy/"
    # Hard links need the cache and the copy on one file system; otherwise the files are copied.
    if ! cp -al "$ORVANE_WINE_PREFIX_ENTRY/shared/." "$copy/" 2>/dev/null; then
        cp -a --remove-destination "$ORVANE_WINE_PREFIX_ENTRY/shared/." "$copy/"
    fi
    chmod 700 "$copy"
}

# Removes the working copy (its wineserver must have ended) and any build this shell left
# half-made; drops the cache entry if a file it shares was written to.
wine_prefix_remove() {
    local entry=${ORVANE_WINE_PREFIX_ENTRY:-}
    rm -rf "${ORVANE_WINE_PREFIX_COPY:-}"
    ORVANE_WINE_PREFIX_COPY=""
    if [ -n "${ORVANE_WINE_PREFIX_BUILDING:-}" ]; then
        WINEPREFIX="$ORVANE_WINE_PREFIX_BUILDING/private" wineserver -k >/dev/null 2>&1 || true
        rm -rf "$ORVANE_WINE_PREFIX_BUILDING"
        ORVANE_WINE_PREFIX_BUILDING=""
    fi
    if [ -n "$entry" ] && [ -d "$entry" ] &&
        [ -n "$(find "$entry/shared" -type f -newer "$entry/built" -print -quit)" ]; then
        echo "wine-prefix.sh: a shared file of $entry was written to; the next session rebuilds it" >&2
        if mv -T "$entry" "$entry.broken.$$" 2>/dev/null; then
            rm -rf "$entry.broken.$$"
        fi
    fi
}
