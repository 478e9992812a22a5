#!/usr/bin/env bash
# Makes the documentation's pictures of the window from the simulated equipment, so that they
# can be made again whenever the window changes: the scripted update of the demo (run.sh --demo)
# at 100 % and at 200 % display scale, the window alone photographed during the transfer.
#
#   bash scripts/screenshots.sh FOLDER      # e.g. docs/images
#
# Writes FOLDER/window-100.png and FOLDER/window-200.png (the folder is made when missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ne 1 ]; then
    echo "usage: bash scripts/screenshots.sh FOLDER" >&2
    exit 2
fi
out=$1
mkdir -p "$out"

shots=$(mktemp -d /tmp/orvane-screenshots.XXXXXX)
trap 'rm -rf "$shots"' EXIT
for percent in 100 200; do
    mkdir -p "$shots/$percent"
    if ! ORVANE_DEMO_SHOTS="$shots/$percent" ORVANE_DEMO_DPI=$((96 * percent / 100)) \
        bash "$root/scripts/run.sh" --demo >"$shots/$percent.log" 2>&1; then
        cat "$shots/$percent.log" >&2
        echo "screenshots.sh: the scripted update at $percent % failed" >&2
        exit 1
    fi
    picture="$shots/$percent/3-during-window.png"
    if [ ! -s "$picture" ]; then
        echo "screenshots.sh: no picture of the window during the update at $percent %" >&2
        exit 1
    fi
    cp "$picture" "$out/window-$percent.png"
    echo "$out/window-$percent.png: $(identify -format '%w x %h' "$picture")"
done
