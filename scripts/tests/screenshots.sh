#!/usr/bin/env bash
# Checks that the documentation's screenshots can be made again: runs scripts/screenshots.sh into
# a temporary folder and compares each picture's size with the one in docs/images. A window that
# changed size needs its pictures made again (bash scripts/screenshots.sh docs/images).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(mktemp -d /tmp/orvane-screenshots-check.XXXXXX)
trap 'rm -rf "$out"' EXIT

bash "$root/scripts/screenshots.sh" "$out"
failed=0
for name in window-100.png window-200.png; do
    made=$(identify -format '%w %h' "$out/$name")
    kept=$(identify -format '%w %h' "$root/docs/images/$name")
    echo "$name: made $made, kept $kept"
    if [ "$made" != "$kept" ]; then
        echo "  $name has another size than docs/images/$name" >&2
        failed=1
    fi
done
# At 200 % the window is twice as large, within a few pixels of frame.
read -r width100 height100 <<<"$(identify -format '%w %h' "$out/window-100.png")"
read -r width200 height200 <<<"$(identify -format '%w %h' "$out/window-200.png")"
for pair in "$width100 $width200" "$height100 $height200"; do
    read -r small large <<<"$pair"
    if [ $((large - 2 * small)) -gt 8 ] || [ $((2 * small - large)) -gt 8 ]; then
        echo "  window-200.png ($width200 x $height200) is not twice window-100.png" \
            "($width100 x $height100)" >&2
        failed=1
    fi
done
exit $failed
