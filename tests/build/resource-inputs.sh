#!/usr/bin/env bash
# Checks the build graph: every program built with the resource script depends on each file that
# the script includes (a header, the icon, the bitmap, the manifest), so that a change to any one
# of them alone rebuilds that program.
set -euo pipefail
build=$1
script=$2
folder=$(dirname "$script")

# The quoted names in the script that are files beside it.
inputs=()
while read -r name; do
    [ -f "$folder/$name" ] && inputs+=("$folder/$name")
done < <(grep -o '"[^"]*"' "$script" | tr -d '"' | sort -u)
if [ ${#inputs[@]} -eq 0 ]; then
    echo "no included files found in $script" >&2
    exit 1
fi

programs=0
failures=0
for program in "$build"/bin/*.exe; do
    relative=${program#"$build"/}
    graph=$(ninja -C "$build" -t inputs "$relative")
    grep -qxF "$script" <<<"$graph" || continue
    programs=$((programs + 1))
    for input in "${inputs[@]}"; do
        if ! grep -qxF "$input" <<<"$graph"; then
            echo "$relative does not depend on $input" >&2
            failures=$((failures + 1))
        fi
    done
done
echo "$programs programs carry the resource script; checked ${#inputs[@]} included files each"
[ "$programs" -gt 0 ] && [ "$failures" -eq 0 ]
