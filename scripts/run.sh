#!/usr/bin/env bash
# Sets up, builds and runs the tool under Wine with two simulated units: an amplifier (model 1,
# firmware 005) on COM5 and a mixer (model 2, firmware 003) on COM6, and a newer firmware file
# for each in C:\Orvane\firmware.
#
# With a usable display the tool opens there and is yours to work; everything is cleaned up
# when it closes. Without one (or with --demo) a scripted user performs one complete update of
# the amplifier on a private virtual display; screenshots of it are kept in
# /tmp/orvane-demo-<time>/, and the run fails unless the unit received exactly "pgm\r" and the
# file and "LastFile" holds the file's path.
#
# For the scripted run, ORVANE_DEMO_SHOTS names the folder for the screenshots instead, and
# ORVANE_DEMO_DPI sets the display scale (96 is 100 %, 192 is 200 %) on a virtual screen of
# 1280 x 1024. Each screenshot NAME.png of the screen comes with NAME-window.png, the tool's
# window alone.
set -euo pipefail
started=$EPOCHREALTIME
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVANE_BUILD_DIR:-$root/build}

scripted=""
console=""
web=""
case "${1:-}" in
"") ;;
--demo) scripted=1 ;;
--console)
    console=1
    shift
    ;;
--web) web=1 ;;
*)
    echo "usage: bash scripts/run.sh [--demo | --console ARGS... | --web]" >&2
    exit 2
    ;;
esac
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
    scripted=1
fi
dpi=${ORVANE_DEMO_DPI:-}
if [ -n "$dpi" ] && { [ -z "$scripted" ] || ! [[ $dpi =~ ^[1-9][0-9]{1,2}$ ]]; }; then
    echo "ORVANE_DEMO_DPI: a display scale in DPI (96 to 480) for the scripted run only" >&2
    exit 2
fi
# The virtual screen the scripted run is photographed on.
desktop=1024x768
[ -n "$dpi" ] && desktop=1280x1024

# Each form installs only its own packages.
if [ -n "$console" ]; then
    "$root/scripts/setup.sh" console >&2
elif [ -n "$web" ]; then
    "$root/scripts/setup.sh" web
else
    "$root/scripts/setup.sh" run
fi

work=$(mktemp -d /tmp/orvane-run.XXXXXX)
equipment="$work/equipment"
markers="$work/markers"
mkdir -p "$equipment" "$markers"
sim_pid=""
user_pid=""
prefix_pid=""

# shellcheck source=scripts/wine-session.sh
source "$root/scripts/wine-session.sh"
cleanup() {
    local pid
    for pid in $user_pid $sim_pid $prefix_pid; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in $user_pid $sim_pid $prefix_pid; do
        wait "$pid" 2>/dev/null || true
    done
    wine_session_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -z "$console" ] && [ -z "$web" ]; then
    # A first run makes the cached Wine prefix (10 to 20 s of wineboot) while it builds.
    wine_session_prepare &
    prefix_pid=$!
    "$root/scripts/build.sh" window
    wait "$prefix_pid" || true
    prefix_pid=""
fi

# Seconds from the command's start to $1 (an $EPOCHREALTIME), to the hundredth.
since_start() {
    local micro=$((10#${1//[.,]/} - 10#${started//[.,]/}))
    printf '%d.%02d' $((micro / 1000000)) $((micro % 1000000 / 10000))
}

# Wine's output goes to files: its helper processes would hold a pipe open.
quietly() {
    "$@" >>"$work/wine.log" 2>&1
}

# The Windows form of a Unix path, through Wine's Z: drive.
windows_path() {
    local path=${1//\//\\}
    printf 'Z:%s' "$path"
}

# Waits up to $1 seconds for the file $2; false when it did not come.
wait_for_file() {
    local limit=$1 file=$2 i
    for ((i = 0; i < limit * 20; i++)); do
        [ -e "$file" ] && return 0
        sleep 0.05
    done
    return 1
}

# Whether Wine's desktop process (explorer.exe) of this session's prefix runs.
desktop_running() {
    local pid
    for pid in $(pgrep -f 'explorer.exe /desktop' || true); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" &&
            return 0
    done
    return 1
}

# A firmware file: a 512-byte header with the device ID at 257 and the version at 259, each two
# ASCII digits, then an image of random bytes; $4 is the whole size.
make_firmware() {
    local file=$1 device=$2 version=$3 size=$4
    {
        printf '%-257.257s' "Orvane firmware image, device $device, version $version"
        printf '%s%s' "$device" "$version"
        head -c 251 /dev/zero
        head -c $((size - 512)) /dev/urandom
    } >"$file"
}

# The native build for --console and --web. A new build directory is configured without the
# tests, whose packages these forms do not install; a configured one is kept as it is.
native=${ORVANE_NATIVE_BUILD_DIR:-$root/build-linux}
native_configure() {
    [ -e "$native/build.ninja" ] ||
        cmake -S "$root" -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF
}

# --console: the native orvane-update with the two units plugged in as /dev/ttyUSB0 and
# /dev/ttyUSB1 of the bridge maker, under umockdev, in the caller's folder; its status is ours.
if [ -n "$console" ]; then
    {
        native_configure && cmake --build "$native" --target orvane-update orvane-sim-equipment
    } >"$work/build.log" 2>&1 || {
        cat "$work/build.log" >&2
        exit 1
    }
    mkdir -p "$native/firmware"
    make_firmware "$native/firmware/Amplifier-v006.ace" 01 06 $((180 * 1024))
    make_firmware "$native/firmware/Mixer-v004.ace" 02 04 $((160 * 1024))
    cat >"$work/units.json" <<'EOF'
[{"tty": "ttyUSB0", "vid": "10c4", "pid": "ea60", "serial": "ORV1001",
  "product": "Orvane Amplifier", "unit": "reply=0105\nmode=paced"},
 {"tty": "ttyUSB1", "vid": "10c4", "pid": "ea60", "serial": "ORV2001",
  "product": "Orvane Mixer", "unit": "reply=0203"}]
EOF
    {
        echo "Simulated equipment: Orvane Amplifier (model 1, firmware 005) on /dev/ttyUSB0,"
        echo "                     Orvane Mixer (model 2, firmware 003) on /dev/ttyUSB1."
        echo "Firmware files:      $native/firmware/Amplifier-v006.ace (for the amplifier),"
        echo "                     $native/firmware/Mixer-v004.ace (for the mixer)."
    } >&2
    status=0
    ORVANE_SIM_EQUIPMENT="$native/bin/orvane-sim-equipment" umockdev-wrapper /usr/bin/python3 \
        "$root/sim/umockdev/simbed.py" "$work/units.json" -- "$native/bin/orvane-update" "$@" ||
        status=$?
    exit "$status"
fi

# --web: the page in Chromium with the two units under umockdev (as root: see sim/web/webbed.sh).
# With a display the page opens there; without one a scripted user updates the amplifier and
# the screenshots go to docs/images/web-*.png (ORVANE_WEB_SHOTS names another folder).
if [ -n "$web" ]; then
    {
        native_configure && cmake --build "$native" --target orvane-sim-equipment &&
            "$root/scripts/build-web.sh"
    } >"$work/build.log" 2>&1 || {
        cat "$work/build.log" >&2
        exit 1
    }
    echo "Set up and built after $(since_start "$EPOCHREALTIME") s; starting Chromium."
    [ -n "$scripted" ] && export ORVANE_WEB_DEMO=1
    mkdir -p "$work/firmware"
    status=0
    ORVANE_SIM_EQUIPMENT="$native/bin/orvane-sim-equipment" bash "$root/sim/web/webbed.sh" \
        "${ORVANE_WEB_BUILD_DIR:-$root/build-web}/site" "$root/sim/web/demo.py" "$work/firmware" \
        "${ORVANE_WEB_SHOTS:-$root/docs/images}" || status=$?
    exit "$status"
fi

echo "Set up and built after $(since_start "$EPOCHREALTIME") s; starting a private Wine session."
if [ -n "$scripted" ]; then
    wine_session_start
else
    wine_session_start keep-display
fi

# The tool and the simulated bridge library in C:\Orvane, the bridges described beside them.
demo="$WINEPREFIX/drive_c/Orvane"
mkdir -p "$demo/firmware"
cp "$build/bin/OrvaneUpdateUtility.exe" "$build/bin/CP210xManufacturing.dll" "$demo/"
cat >"$demo/bridges.txt" <<'EOF'
# The demo's two bridges; the registry maps their serials to COM5 and COM6.
vid=0x10C4 pid=0xEA60 product="Orvane Amplifier" serial=ORV1001
vid=0x10C4 pid=0xEA60 product="Orvane Mixer" serial=ORV2001
EOF
unset ORVANE_SIM_BRIDGES

# The keys the USB driver writes for each bridge: serial -> COM port.
cat >"$work/ports.reg" <<'EOF'
REGEDIT4

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB\Vid_10c4&Pid_ea60\ORV1001\Device Parameters]
"PortName"="COM5"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB\Vid_10c4&Pid_ea60\ORV2001\Device Parameters]
"PortName"="COM6"
EOF
if [ -z "$scripted" ]; then
    # On the user's display the tool gets a window of its own, not Wine's virtual desktop.
    cat >>"$work/ports.reg" <<'EOF'

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"=-

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"=-
EOF
fi
if [ -n "$dpi" ]; then
    # The display scale, and a screen that holds the window at 200 %.
    cat >>"$work/ports.reg" <<EOF

[HKEY_CURRENT_USER\Control Panel\Desktop]
"LogPixels"=dword:$(printf '%08x' "$dpi")

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="$desktop"
EOF
fi
quietly wine reg import "$(windows_path "$work/ports.reg")"
if [ -z "$scripted" ] || [ -n "$dpi" ]; then
    # The desktop process that the import started has read the old setting; the tool's own
    # one reads the new one once this one has gone (about a second after its last program).
    for ((i = 0; i < 100; i++)); do
        desktop_running || break
        sleep 0.1
    done
fi

# The units: the amplifier takes data no faster than 460800 baud allows, as the real one does.
printf 'reply=0105\nmode=paced\n' >"$equipment/port5.conf"
printf 'reply=0203\n' >"$equipment/port6.conf"
lifetime=600
[ -z "$scripted" ] && lifetime=86400
"$build/sim-equipment/orvane-sim-equipment" --lifetime "$lifetime" --parent-pid $$ \
    "$equipment" "$WINEPREFIX/dosdevices" 5 6 >"$work/equipment.log" 2>&1 &
sim_pid=$!
if ! wait_for_file 10 "$equipment/ready"; then
    echo "The simulated equipment did not start:" >&2
    cat "$work/equipment.log" "$equipment/failed" 2>/dev/null >&2 || true
    exit 1
fi

amplifier_file='C:\Orvane\firmware\Amplifier-v006.ace'
make_firmware "$demo/firmware/Amplifier-v006.ace" 01 06 $((180 * 1024))
make_firmware "$demo/firmware/Mixer-v004.ace" 02 04 $((160 * 1024))

echo "Simulated equipment: Orvane Amplifier (model 1, firmware 005) on COM5,"
echo "                     Orvane Mixer (model 2, firmware 003) on COM6."
echo "Firmware files:      C:\\Orvane\\firmware\\Amplifier-v006.ace (for the amplifier),"
echo "                     C:\\Orvane\\firmware\\Mixer-v004.ace (for the mixer)."

tool='C:\Orvane\OrvaneUpdateUtility.exe'
user_exe="$build/bin/orvane-demo-user.exe"
shown_at=""
received_before=0

# Notes the window's first showing: the time since the start, and how much the amplifier had
# received by then (the version query of the discovery).
note_shown() {
    if [ -z "$shown_at" ] && [ -e "$markers/shown" ]; then
        shown_at=$EPOCHREALTIME
        received_before=$(stat -c %s "$equipment/port5.rx" 2>/dev/null || echo 0)
        echo "The window first showed $(since_start "$shown_at") s after the command started."
    fi
}

if [ -z "$scripted" ]; then
    echo "Starting the tool on $DISPLAY; close it to end the run."
    wine "$user_exe" watch "$tool" "$(windows_path "$markers")" >"$work/user.log" 2>&1 &
    user_pid=$!
    while kill -0 "$user_pid" 2>/dev/null; do
        note_shown
        sleep 0.05
    done
    wait "$user_pid" || true
    user_pid=""
    for port in 5 6; do
        echo "COM$port received $(stat -c %s "$equipment/port$port.rx" 2>/dev/null || echo 0) bytes."
    done
    exit 0
fi

shots=${ORVANE_DEMO_SHOTS:-/tmp/orvane-demo-$(date +%Y%m%d-%H%M%S)}
mkdir -p "$shots"
echo "Running the scripted update on a virtual display; screenshots go to $shots"
wine "$user_exe" scripted "$tool" "$amplifier_file" "$(windows_path "$markers")" \
    >"$work/user.log" 2>&1 &
user_pid=$!
deadline=$((SECONDS + 240))
while kill -0 "$user_pid" 2>/dev/null; do
    note_shown
    for ready in "$markers"/*.ready; do
        [ -e "$ready" ] || continue
        name=$(basename "$ready" .ready)
        [ -e "$markers/$name.taken" ] && continue
        import -window root "$work/screen.png"
        convert "$work/screen.png" -crop "$desktop+0+0" +repage "$shots/$name.png"
        if [ -e "$markers/$name.window" ]; then
            read -r left top width height <"$markers/$name.window"
            convert "$work/screen.png" -crop "${width}x${height}+$left+$top" +repage \
                "$shots/$name-window.png"
        fi
        touch "$markers/$name.taken"
        echo "  screenshot $name.png: $(cat "$ready")"
    done
    if [ $SECONDS -ge $deadline ]; then
        echo "The scripted user did not finish within 240 s." >&2
        break
    fi
    sleep 0.05
done
user_status=0
if kill -0 "$user_pid" 2>/dev/null; then
    kill "$user_pid" 2>/dev/null || true
    user_status=1
fi
wait "$user_pid" || user_status=$?
user_pid=""
if [ "$user_status" -eq 0 ]; then
    # The unit records the last bytes a moment after the tool has closed the port: the end of
    # the second session (the first was the discovery's).
    for ((i = 0; i < 100; i++)); do
        [ "$(grep -c '^close' "$equipment/port5.events" 2>/dev/null)" -ge 2 ] && break
        sleep 0.1
    done
fi
tr -d '\r' <"$work/user.log" | sed 's/^/  user: /'

# What the amplifier received after the window showed, against "pgm\r" and the file.
failed=""
[ "$user_status" -eq 0 ] || failed=1
tail -c +$((received_before + 1)) "$equipment/port5.rx" >"$shots/received-com5.bin" 2>/dev/null || true
{
    printf 'pgm\r'
    cat "$demo/firmware/Amplifier-v006.ace"
} >"$work/expected.bin"
received=$(stat -c %s "$shots/received-com5.bin")
expected=$(stat -c %s "$work/expected.bin")
echo "COM5 received $received_before bytes during discovery and $received bytes for the update" \
    "(expected $expected: \"pgm\\r\" and the $((expected - 4))-byte file)."
if cmp -s "$shots/received-com5.bin" "$work/expected.bin"; then
    echo "  They are exactly \"pgm\\r\" followed by the file."
else
    echo "  They differ from \"pgm\\r\" followed by the file:" \
        "$(cmp "$shots/received-com5.bin" "$work/expected.bin" 2>&1 | head -1)"
    failed=1
fi
echo "  The unit's own account of the session: $(grep '^close' "$equipment/port5.events" | tail -1)"
echo "COM6 received $(stat -c %s "$equipment/port6.rx" 2>/dev/null || echo 0) bytes."

wine reg query 'HKCU\Software\Orvane\OrvaneUpdateUtility\Settings' /v LastFile \
    >"$work/lastfile.txt" 2>&1 || true
last_file=$(tr -d '\r' <"$work/lastfile.txt" | sed -n 's/^ *LastFile *REG_SZ *//p')
echo "LastFile: $last_file"
if [ "$last_file" != "$amplifier_file" ]; then
    echo "  expected $amplifier_file" >&2
    failed=1
fi

ls "$shots"/*.png >/dev/null 2>&1 && echo "Screenshots: $(echo "$shots"/*.png)"
if [ -n "$failed" ]; then
    echo "The update did NOT complete as it should." >&2
    exit 1
fi
echo "The update completed."
