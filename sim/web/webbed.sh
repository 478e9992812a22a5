#!/usr/bin/env bash
# Runs a Python script (the browser suite, the web demo) where a real Chromium sees simulated
# units behind a umockdev test bed. As root, in a mount namespace of its own, so that the two
# things Chromium needs and this machine lacks are bound in there only: a usb-serial line in
# /proc/tty/drivers (Chromium leaves out ttys whose major has no driver) and a managed policy
# that grants the bridge maker's ports to the page's origin (no one answers the port chooser).
# Arguments: the site's folder, the script, then the script's arguments.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
site=$(cd "$1" && pwd)
script=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shift 2
exec unshare --mount --propagation private /bin/bash -s "$here" "$site" "$script" "$@" <<'INNER'
set -euo pipefail
here=$1 site=$2 script=$3
shift 3
work=$(mktemp -d /tmp/orvane-web.XXXXXX)
trap 'umount /etc/chromium 2>/dev/null || true; umount /proc/tty/drivers 2>/dev/null || true; rm -rf "$work"' EXIT
{ cat /proc/tty/drivers; echo "usbserial            /dev/ttyUSB   188 0-511 serial"; } >"$work/drivers"
mount --bind "$work/drivers" /proc/tty/drivers
mkdir -p "$work/chromium/policies/managed"
cp -a /etc/chromium/. "$work/chromium/" 2>/dev/null || true
cat >"$work/chromium/policies/managed/orvane-tests.json" <<JSON
{"SerialAllowUsbDevicesForUrls": [{"devices": [{"vendor_id": 4292, "product_id": 60000}],
                                   "urls": ["http://127.0.0.1:${ORVANE_WEB_PORT:-8765}"]}]}
JSON
mount --bind "$work/chromium" /etc/chromium
export ORVANE_WEB_SITE=$site PYTHONPATH=$here:$here/../umockdev
umockdev-wrapper /usr/bin/python3 "$script" "$@"
INNER
