#!/usr/bin/env bash
# Runs a Windows program under Wine in the session that the test script started; ctest uses it
# for every test program. The output goes through a file, not a pipe: Wine's helper processes
# (the desktop window's explorer) outlive the program and would hold a pipe open. Wine's line
# ends (CRLF) are turned into plain ones.
#
# Under load Wine now and then fails to start a program at all: it ends at once with an error
# status and not a byte of output. A test program always writes its filter line first, so such
# a run is started again (twice at most), saying so; a run that wrote anything is never repeated.
if [ -z "${WINEPREFIX:-}" ]; then
    echo "wine-exec.sh: no Wine session (run the tests through scripts/test.sh)" >&2
    exit 2
fi
output=$(mktemp /tmp/orvane-wine-output.XXXXXX)
for attempt in 1 2 3; do
    wine "$@" >"$output" 2>&1
    status=$?
    if [ $status -eq 0 ] || [ -s "$output" ] || [ $attempt -eq 3 ]; then
        break
    fi
    echo "wine-exec.sh: wine ended with status $status before the program wrote anything;" \
        "starting it again" >&2
    sleep 1
done
tr -d '\r' <"$output"
rm -f "$output"
exit $status
