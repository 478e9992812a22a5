# Sourced by the run and test scripts: a private Wine prefix and a private virtual display,
# made fresh and removed again, so nothing touches the user's own Wine set-up or display.

wine_session_start() {
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
    export WINEPREFIX
    WINEPREFIX=$(mktemp -d /tmp/orvane-wine.XXXXXX)
    ORVANE_SESSION_OWNS_DISPLAY=""
    if [ "${1:-}" != "keep-display" ] || [ -z "${DISPLAY:-}" ]; then
        local number=90
        while [ -e "/tmp/.X${number}-lock" ] || [ -e "/tmp/.X11-unix/X${number}" ]; do
            number=$((number + 1))
        done
        Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        ORVANE_XVFB_PID=$!
        export DISPLAY=":$number"
        ORVANE_SESSION_OWNS_DISPLAY=1
        for _ in $(seq 1 50); do
            [ -e "/tmp/.X11-unix/X${number}" ] && break
            sleep 0.1
        done
    fi
    wineboot -i >/dev/null 2>&1
    wineserver -w
    # No crash dialog; one virtual desktop, so that windows need no window manager.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    wineserver -w
    # One wineserver for the whole session: each program then starts in a fraction of a second.
    wineserver -p >/dev/null 2>&1
}

wine_session_stop() {
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
        wineserver -k >/dev/null 2>&1 || true
        rm -rf "$WINEPREFIX"
    fi
    if [ -n "${ORVANE_SESSION_OWNS_DISPLAY:-}" ] && [ -n "${ORVANE_XVFB_PID:-}" ]; then
        kill "$ORVANE_XVFB_PID" 2>/dev/null || true
        wait "$ORVANE_XVFB_PID" 2>/dev/null || true
    fi
}
