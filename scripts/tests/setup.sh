#!/usr/bin/env bash
# Checks scripts/setup.sh without installing anything: apt-get, and where a case needs it
# dpkg-query and id, are stand-ins on PATH that record how they were called.
#   - with every package there (the test command has set them up): no apt call, no output;
#   - with packages missing: one quiet install of exactly those, without recommended packages,
#     the package lists fetched only when the install fails without them, the package manager's
#     output in the log named, and shown only when the install fails;
#   - every purpose's packages are among the test command's; a purpose it does not know and a
#     missing package without root are refused without an apt call.
# shellcheck disable=SC2015,SC2016 # "A && B || fail": fail never fails; the stand-ins expand later
set -euo pipefail
setup="$(cd "$(dirname "$0")/.." && pwd)/setup.sh"
work=$(mktemp -d /tmp/orvane-setup-check.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The stand-ins. apt-get records its arguments in calls.txt and answers as $APT_ANSWERS says, one
# word per call: ok, or fail (which prints a line of its own first).
mkdir -p "$work/bin"
cat >"$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
echo "$*" >>"$CHECK_WORK/calls.txt"
n=$(wc -l <"$CHECK_WORK/calls.txt")
answer=$(echo "${APT_ANSWERS:-ok}" | cut -d' ' -f"$n")
[ "${answer:-ok}" = ok ] && { echo "apt-get: done"; exit 0; }
echo "E: Unable to locate package (call $n)"
exit 100
EOF
# dpkg-query reports the real answer, less the packages in $HIDE ("all": none installed).
cat >"$work/bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
[ "${HIDE:-}" = all ] && exit 1
/usr/bin/dpkg-query "$@" | grep -v -w -F -f <(tr ' ' '\n' <<<"${HIDE:-}" | grep . || echo '@none@')
EOF
printf '#!/bin/sh\necho "${FAKE_UID:-0}"\n' >"$work/bin/id"
chmod +x "$work/bin"/*
export CHECK_WORK=$work

# Runs setup.sh with the stand-ins: its status, output and error output in status.txt, out.txt,
# err.txt; apt-get's calls in calls.txt.
run_setup() {
    rm -f "$work/calls.txt"
    touch "$work/calls.txt"
    local status=0
    PATH="$work/bin:$PATH" bash "$setup" "$@" >"$work/out.txt" 2>"$work/err.txt" || status=$?
    echo "$status" >"$work/status.txt"
}
status() { cat "$work/status.txt"; }
calls() { cat "$work/calls.txt"; }

# Everything there: nothing runs, nothing is said.
for purpose in run console web web-build package test; do
    run_setup "$purpose"
    [ "$(status)" = 0 ] || fail "$purpose with everything installed: status $(status)"
    [ -z "$(calls)" ] || fail "$purpose with everything installed called apt-get: $(calls)"
    [ ! -s "$work/out.txt" ] && [ ! -s "$work/err.txt" ] ||
        fail "$purpose with everything installed said: $(cat "$work/out.txt" "$work/err.txt")"
done

# Two packages missing, the lists good enough: one install of exactly those.
HIDE="wine64 xvfb" run_setup run
[ "$(status)" = 0 ] || fail "run with two missing: status $(status): $(cat "$work/err.txt")"
[ "$(calls)" = "install -y --no-install-recommends -o DPkg::Lock::Timeout=600 -o Dpkg::Options::=--force-unsafe-io wine64 xvfb" ] ||
    fail "run with two missing called: $(calls)"
log=$(sed -n 's/^Installing: wine64 xvfb (the package manager.s output: \(.*\))$/\1/p' "$work/out.txt")
[ -n "$log" ] || fail "run with two missing said: $(cat "$work/out.txt")"
[ -n "$log" ] && grep -qx "apt-get: done" "$log" || fail "the log $log lacks apt-get's output"
grep -q "apt-get: done" "$work/out.txt" "$work/err.txt" && fail "apt-get's output was shown"
[ "$(sed -n 2p "$work/out.txt")" = "Installed in 0 s." ] || fail "no time line: $(cat "$work/out.txt")"
[ -n "$log" ] && rm -f "$log"

# The test command and packaging take the recommended packages too.
for purpose in test package; do
    HIDE="cmake" run_setup "$purpose"
    [ "$(calls)" = "install -y -o DPkg::Lock::Timeout=600 -o Dpkg::Options::=--force-unsafe-io cmake" ] ||
        fail "$purpose with cmake missing called: $(calls)"
    rm -f "$(sed -n 's/.*output: \(.*\))$/\1/p' "$work/out.txt")"
done

# The first install fails without new lists: the lists are fetched, and the install tried again.
HIDE="cmake" APT_ANSWERS="fail ok ok" run_setup console
[ "$(status)" = 0 ] || fail "a retried install: status $(status)"
[ "$(calls | cut -d' ' -f1 | tr '\n' ' ')" = "install update install " ] ||
    fail "a retried install called: $(calls)"
rm -f "$(sed -n 's/.*output: \(.*\))$/\1/p' "$work/out.txt")"

# The install fails for good: status 1, the package manager's last lines shown, and where the
# rest is.
HIDE="cmake" APT_ANSWERS="fail fail" run_setup console
[ "$(status)" = 1 ] || fail "a failed install: status $(status)"
grep -q "E: Unable to locate package (call 2)" "$work/err.txt" ||
    fail "a failed install did not show apt's lines: $(cat "$work/err.txt")"
grep -q "^Installing failed.*all of them in /tmp/orvane-setup\." "$work/err.txt" ||
    fail "a failed install did not name its log: $(cat "$work/err.txt")"
rm -f "$(sed -n 's/.*output: \(.*\))$/\1/p' "$work/out.txt")"

# Every purpose's packages are among the test command's: the test command sets up for them all.
HIDE=all run_setup test
read -ra test_set <<<"$(calls | head -1 | sed 's/.*--force-unsafe-io //')"
[ ${#test_set[@]} -gt 20 ] || fail "the test command's set: ${test_set[*]}"
rm -f "$(sed -n 's/.*output: \(.*\))$/\1/p' "$work/out.txt")"
for purpose in run console web web-build package; do
    HIDE=all run_setup "$purpose"
    read -ra purpose_set <<<"$(calls | head -1 | sed 's/.*--force-unsafe-io //')"
    rm -f "$(sed -n 's/.*output: \(.*\))$/\1/p' "$work/out.txt")"
    for package in "${purpose_set[@]}"; do
        [[ " ${test_set[*]} " == *" $package "* ]] ||
            fail "$package of '$purpose' is not in the test command's set"
    done
    echo "$purpose: ${#purpose_set[@]} packages"
done
# The window's set stays its own: no test, packaging or browser parts.
HIDE=all run_setup run
for package in googletest lintian nsis g++-mingw-w64-i686-win32 emscripten chromium umockdev; do
    [[ " $(calls) " == *" $package "* ]] && fail "the run command installs $package"
done
rm -f "$(sed -n 's/.*output: \(.*\))$/\1/p' "$work/out.txt")"

# Refusals, without an apt call.
run_setup everything
[ "$(status)" = 2 ] && [ -z "$(calls)" ] || fail "an unknown purpose: status $(status), $(calls)"
HIDE="cmake" FAKE_UID=1000 run_setup console
[ "$(status)" = 1 ] && [ -z "$(calls)" ] || fail "not root: status $(status), $(calls)"
grep -q "^Missing packages: cmake$" "$work/err.txt" || fail "not root said: $(cat "$work/err.txt")"

[ "$failures" -eq 0 ] || exit 1
echo "setup.sh: all cases passed"
