#!/usr/bin/env bash
# The entry procedure's error path: an error escaping window creation or the event loop is shown
# in the error box, and the program still exits with 0.
set -u
prog=$1
fail=0
check() { # FAIL_HOW, expected box line
    out=$(FAIL_HOW=$1 timeout 20 "$prog" 2>&1); rc=$?
    if [ "$rc" -ne 0 ] || ! grep -qxF "$2" <<<"$out"; then
        echo "FAIL $1: exit $rc, output:"; echo "$out"; fail=1
    else
        echo "ok $1: $2, exit 0"
    fi
}
check exception 'error box: [window creation failed]'
check other 'error box: []'
check loop 'error box: [handler failed]'
exit $fail
