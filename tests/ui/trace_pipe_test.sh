#!/usr/bin/env bash
# The console with its trace going into a FIFO whose reader leaves: it says so once and runs on,
# SIGPIPE at its default action as in a shell that never set it; a new reader gets the trace.
set -u
dir=$(mktemp -d) && cd "$dir" || exit 1
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; wait; cd /; rm -rf "$dir"' EXIT
mkfifo trace
# The reader opens before the console starts, so the trace is open from its first frame.
exec 3<>trace
head -c 2000 <&3 >/dev/null &
exec 3<&-
DASHARD_OUTPUT=none DASHARD_TRACE=trace env --default-signal=PIPE "$1" 2>stderr &
pid=$!
said() { for _ in $(seq 100); do grep -q "$1" stderr && return 0; kill -0 "$pid" || return 1; sleep 0.1; done; return 1; }
said 'cannot write trace file "trace": Broken pipe' || { echo "FAIL: no line on the closed FIFO"; cat stderr; wait "$pid"; echo "exit status $?"; exit 1; }
line=$(timeout 10 head -n 1 trace)
[[ $line =~ ^[0-9]+\.[0-9]{6}\ 4\ 512 ]] || { echo "FAIL: a new reader got \"${line:0:40}\""; exit 1; }
kill -0 "$pid" || { echo "FAIL: the console ended"; exit 1; }
kill "$pid"; wait "$pid"; status=$? pid=
[ "$status" -eq 143 ] || { echo "FAIL: ended with status $status, not by our SIGTERM"; exit 1; }
[ "$(grep -c dashard: stderr)" -eq 1 ] || { echo "FAIL: not one line from the library:"; cat stderr; exit 1; }
