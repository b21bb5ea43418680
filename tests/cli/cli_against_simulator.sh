#!/usr/bin/env bash
# kestrum-cli as a user runs it, against kestrum-sim on a pseudo-terminal: a load that
# succeeds, one refused for the wrong device, one cancelled with Ctrl-C, and info.
set -u
cli=$1
sim=$2
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
check() {  # description, expected, actual
  if [ "$2" == "$3" ]; then echo "ok: $1"; else echo "FAILED: $1: expected [$2], got [$3]"; failures=$((failures + 1)); fi
}
start_sim() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -f "$work/sim.out"  # so the previous simulator's port is never read
  "$sim" "$@" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
  port=$(head -n 1 "$work/sim.out" 2>/dev/null)
  if [ -z "$port" ]; then echo "kestrum-sim did not start: $(cat "$work/sim.err")"; exit 1; fi
}
export KESTRUM_INI="$work/none.ini"  # no stored settings: defaults only

"$sim" --write-images "$work" --flash-version "9.9 test" >/dev/null
start_sim --device receiver --rate 9600
"$cli" load -p "$port" -c soft -r "$work/ramimage.ldr" -f "$work/main.ldp" >"$work/out" 2>"$work/err"
check "load exit status" 0 $?
check "load result" "Loading completed" "$(cat "$work/out")"
grep -q "^Found receiver at 9600$" "$work/err"; check "rate search shown" 0 $?
"$cli" info -p "$port" --json >"$work/info" 2>/dev/null
check "info exit status" 0 $?
grep -q '"firmware": "9.9 test"' "$work/info"; check "info reports the new firmware" 0 $?

start_sim --device receiver --device-id 33
"$cli" load -p "$port" -c soft -r "$work/ramimage.ldr" -f "$work/main.ldp" >"$work/out" 2>"$work/err"
check "wrong device exit status" 5 $?
check "wrong device result" "Error version checking" "$(cat "$work/out")"
grep -q "^Improper RAM file for this device$" "$work/err"; check "wrong device reason" 0 $?

start_sim --device receiver   # never power-cycled: the capture waits until Ctrl-C
"$cli" load -p "$port" -c pwr -r "$work/ramimage.ldr" -f "$work/main.ldp" >"$work/out" 2>"$work/err" &
cli_pid=$!
sleep 2
kill -INT "$cli_pid"
wait "$cli_pid"
check "Ctrl-C exit status" 2 $?
check "Ctrl-C result" "Loading aborted by User" "$(cat "$work/out")"
grep -q "Time remaining: 1[0-9] sec" "$work/err"; check "power-cycle countdown shown" 0 $?

"$cli" load -p /dev/does-not-exist >"$work/out" 2>"$work/err"
check "missing port exit status" 64 $?
"$cli" load -s 12345 -p "$port" >"$work/out" 2>"$work/err"
check "bad speed exit status" 64 $?

echo "$((8 + 5 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
