#!/usr/bin/env bash
# Checks the cached Wine prefix with a private, empty cache: two sessions started together both
# work and share one build; a session's copy is gone after it and what it wrote never reaches the
# cache; a change to the settings script gives a new cached prefix; a write through a shared file
# drops the entry. Costs two wineboots.
set -euo pipefail
scripts=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d /tmp/orvane-prefix-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME="$work/cache"
cached_prefixes="$work/cache/orvane-wine"
failures=0

# Reports whether the predicate $2 holds, described by $1.
check() {
    if "$2"; then
        echo "PASS: $1"
    else
        echo "FAIL: $1"
        failures=$((failures + 1))
    fi
}

# A session with the scripts in $1, named $2: notes its prefix and the settings it sees, writes
# a registry value of its own, and runs $3 (if given) before it ends.
session() {
    local session_scripts=$1 name=$2 before_end=${3:-true}
    (
        # shellcheck source=scripts/wine-session.sh
        source "$session_scripts/wine-session.sh"
        trap wine_session_stop EXIT
        wine_session_start
        echo "$WINEPREFIX" >"$work/$name.prefix"
        wine reg query 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog >"$work/$name.settings" 2>&1
        wine reg query 'HKCU\Software\Wine\Explorer\Desktops' /v Default >>"$work/$name.settings" 2>&1
        wine reg add 'HKCU\Software\OrvaneCacheTest' /v Session /d "$name" /f >/dev/null 2>&1
        "$before_end"
    ) >"$work/$name.log" 2>&1
}

entries() {
    find "$cached_prefixes" -mindepth 1 -maxdepth 1 -type d | sort
}

sees_settings() {
    tr -d '\r' <"$work/$1.settings" | grep -q 'ShowCrashDialog *REG_DWORD *0x0' &&
        tr -d '\r' <"$work/$1.settings" | grep -q "Default *REG_SZ *$2"
}

copy_gone() {
    [ -s "$work/$1.prefix" ] && [ ! -e "$(cat "$work/$1.prefix")" ]
}

# Two sessions at once on a cold cache.
session "$scripts" first &
first=$!
session "$scripts" second &
second=$!
statuses=0
wait "$first" || statuses=$((statuses + 1))
wait "$second" || statuses=$((statuses + 1))
entry=$(entries | head -1)

both_ended_well() { [ "$statuses" -eq 0 ]; }
both_see_settings() { sees_settings first 1024x768 && sees_settings second 1024x768; }
own_prefixes() {
    [ -s "$work/first.prefix" ] && [ "$(cat "$work/first.prefix")" != "$(cat "$work/second.prefix")" ]
}
one_build() {
    [ "$(cat "$work/first.log" "$work/second.log" | grep -c "Making the cached Wine prefix")" -eq 1 ] &&
        [ "$(entries | wc -l)" -eq 1 ]
}
copies_gone() { copy_gone first && copy_gone second; }
cache_registry_untouched() { ! grep -q OrvaneCacheTest "$entry/private/user.reg"; }
no_links_left() { [ "$(stat -c %h "$entry/shared/drive_c/windows/system32/kernel32.dll")" -eq 1 ]; }
check "two sessions started together on a cold cache both end well" both_ended_well
check "both sessions see the test bed's settings" both_see_settings
check "the sessions had prefixes of their own" own_prefixes
check "one build served both sessions" one_build
check "each session's copy is gone after it" copies_gone
check "what the sessions wrote to their registry never reached the cache" cache_registry_untouched
check "no copy still links the cached DLLs" no_links_left

# A changed settings script.
mkdir "$work/changed"
cp "$scripts"/wine-*.sh "$work/changed/"
sed -i 's|/d 1024x768|/d 800x600|' "$work/changed/wine-settings.sh"
session "$work/changed" changed
new_entry_with_new_settings() {
    [ "$(entries | wc -l)" -eq 2 ] && [ -d "$entry" ] && sees_settings changed 800x600
}
check "a changed settings script gives a new cached prefix, with the new settings" \
    new_entry_with_new_settings

# A write through a shared file (as Wine's prefix update would make) drops the entry.
write_through_link() {
    printf 'x' >>"$(cat "$work/writer.prefix")/drive_c/windows/system32/kernel32.dll"
}
session "$scripts" writer write_through_link
entry_dropped() { [ ! -e "$entry" ] && [ "$(entries | wc -l)" -eq 1 ] && copy_gone writer; }
check "a write through a shared file drops the cached prefix" entry_dropped

if [ "$failures" -gt 0 ]; then
    for log in "$work"/*.log; do
        echo "--- $(basename "$log")"
        cat "$log"
    done
    echo "The cached Wine prefix: $failures check(s) failed."
    exit 1
fi
echo "The cached Wine prefix: all checks passed."
