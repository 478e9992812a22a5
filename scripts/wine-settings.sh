# shellcheck shell=bash
# Sourced: how the run and test scripts set up Wine. The pristine prefix in the cache is made by
# wine_settings_make_prefix and keyed by a hash of this file, so any change here rebuilds it.

# No debug output; no Mono or Gecko installer prompts; no menu entries on the Linux desktop.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"

# Makes a new prefix in $WINEPREFIX, on the display in $DISPLAY.
wine_settings_make_prefix() {
    wineboot -i >/dev/null 2>&1
    wineserver -w
    # No crash dialog; one virtual desktop, so that windows need no window manager.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    wineserver -w
}
