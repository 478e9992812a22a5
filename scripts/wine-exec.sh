#!/usr/bin/env bash
# Runs a Windows program under Wine in the session that the test script started; ctest uses it
# for every test program. The output goes through a file, not a pipe: Wine's helper processes
# (the desktop window's explorer) outlive the program and would hold a pipe open. Wine's line
# ends (CRLF) are turned into plain ones.
if [ -z "${WINEPREFIX:-}" ]; then
    echo "wine-exec.sh: no Wine session (run the tests through scripts/test.sh)" >&2
    exit 2
fi
output=$(mktemp /tmp/orvane-wine-output.XXXXXX)
wine "$@" >"$output" 2>&1
status=$?
tr -d '\r' <"$output"
rm -f "$output"
exit $status
