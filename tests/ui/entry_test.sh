#!/usr/bin/env bash
# An error escaping window creation or the event loop is shown in the error box, and the program
# still exits with 0.
fail=0
for case in 'exception:window creation failed' 'other:' 'loop:handler failed'; do
    out=$(FAIL_HOW=${case%%:*} timeout 20 "$1" 2>&1)
    rc=$?
    [ "$rc" -eq 0 ] && grep -qxF "error box: [${case#*:}]" <<<"$out" || { echo "FAIL $case: exit $rc: $out"; fail=1; }
done
exit $fail
