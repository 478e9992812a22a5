# shellcheck shell=bash
# Sourced by the run and test scripts: a private Wine prefix and a private virtual display,
# removed again at the end, so nothing touches the user's own Wine set-up or display. The prefix
# is a working copy of the pristine one in the cache (see wine-prefix.sh).

# shellcheck source=scripts/wine-prefix.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"

# Starts a private virtual display and exports it as DISPLAY (ORVANE_XVFB_PID is its server).
wine_session_display() {
    # Xvfb takes the first free display number itself and reports it once it listens, so
    # sessions started together never pick the same one.
    local number_file
    number_file=$(mktemp /tmp/orvane-display.XXXXXX)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
    ORVANE_XVFB_PID=$!
    for _ in $(seq 1 100); do
        [ -s "$number_file" ] && break
        sleep 0.05
    done
    if [ ! -s "$number_file" ]; then
        rm -f "$number_file"
        echo "wine-session.sh: Xvfb did not start" >&2
        return 1
    fi
    DISPLAY=":$(cat "$number_file")"
    export DISPLAY
    rm -f "$number_file"
}

# Starts the session; "keep-display" as $1 keeps a usable $DISPLAY instead of a private one.
# shellcheck disable=SC2120 # the test scripts call it without arguments
wine_session_start() {
    ORVANE_SESSION_OWNS_DISPLAY=""
    if [ "${1:-}" != "keep-display" ] || [ -z "${DISPLAY:-}" ]; then
        ORVANE_SESSION_OWNS_DISPLAY=1
        wine_session_display || return 1
    fi
    wine_prefix_copy
    # One wineserver for the whole session: each program then starts in a fraction of a second.
    wineserver -p >/dev/null 2>&1
}

# Makes the cached prefix when it is not there yet, on a private display of its own, so that a
# first run can do it in the background while it builds. A failure is left to the session's own
# start, which tries again and reports it.
wine_session_prepare() {
    local entry
    entry=$(wine_prefix_entry 2>/dev/null) || return 0
    [ -d "$entry" ] && return 0
    (
        trap 'wine_prefix_remove; kill "${ORVANE_XVFB_PID:-}" 2>/dev/null || true' EXIT
        trap 'exit 1' INT TERM
        wine_session_display && wine_prefix_ensure "$entry"
    )
}

wine_session_stop() {
    if [ -n "${ORVANE_WINE_PREFIX_COPY:-}" ] && [ -d "$ORVANE_WINE_PREFIX_COPY" ]; then
        WINEPREFIX=$ORVANE_WINE_PREFIX_COPY wineserver -k >/dev/null 2>&1 || true
    fi
    wine_prefix_remove
    if [ -n "${ORVANE_SESSION_OWNS_DISPLAY:-}" ] && [ -n "${ORVANE_XVFB_PID:-}" ]; then
        kill "$ORVANE_XVFB_PID" 2>/dev/null || true
        wait "$ORVANE_XVFB_PID" 2>/dev/null || true
    fi
}
