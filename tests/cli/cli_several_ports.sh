#!/usr/bin/env bash
# kestrum-cli loading several simulated receivers at once, as a production line does: one
# that takes the load, one that answers a Flash block with an error byte and one that
# vanishes in the middle of the Flash image; every port's result in the summary, also as
# JSON; one trace of them all; Ctrl-C aborting them all; and the mistakes in naming
# several ports.
set -u
cli=$1
sim=$2
source "$(dirname "$0")/../simulator_script.sh"
export KESTRUM_INI="$work/none.ini"  # no stored settings: defaults only

"$sim" --write-images "$work" --flash-version "9.6 line" --flash-size 60000 >/dev/null
start_three() {
  stop_other_sims
  start_other_sim good --device receiver --unpaced
  start_other_sim refusing --device receiver --unpaced --error-frame 20
  start_other_sim vanishing --device receiver --unpaced --disconnect-after 30000
}
load_three() {  # extra load options
  "$cli" load -p "$good,$refusing" -p "$vanishing" -c soft -r "$work/ramimage.ldr" -f "$work/main.ldp" "$@" \
    >"$work/out" 2>"$work/err"
}

start_three
load_three
check "exit status: the first port that failed" 7 $?
check "summary" "3 ports: 1 completed, 2 failed
  $good  0  Loading completed
  $refusing  7  Error in Flash file loading
  $vanishing  7  Error in Flash file loading" "$(cat "$work/out")"
for port in "$good" "$refusing" "$vanishing"; do
  grep -q "^$port: Found receiver at 115200$" "$work/err"; check "$port named on its lines" 0 $?
done
grep -q "^$vanishing: Lost connection with port $vanishing$" "$work/err"; check "vanished device's reason" 0 $?
"$cli" info -p "$good" --json >"$work/info" 2>/dev/null
grep -q '"firmware": "9.6 line"' "$work/info"; check "the good receiver runs the new firmware" 0 $?

start_three
load_three --json
check "JSON exit status" 7 $?
grep -q "{\"port\": \"$good\", \"code\": 0, \"result\": \"Loading completed\", \"status\": \"Loading completed\", \"seconds\": [0-9.]*, \"flashSeconds\": [0-9.]*, \"outcome\": \"completed\"" "$work/out"
check "JSON: the completed load" 0 $?
grep -q "{\"port\": \"$refusing\", \"code\": 7, \"result\": \"Error in Flash file loading\"" "$work/out"
check "JSON: the refused load" 0 $?
grep -q "{\"port\": \"$vanishing\", \"code\": 7, \"result\": \"Error in Flash file loading\", \"status\": \"Error in Flash file loading\"" "$work/out"
check "JSON: the vanished device" 0 $?
grep -q '"completed": 1, "skipped": 0, "failed": 2, "exitStatus": 7}' "$work/out"; check "JSON totals" 0 $?

# One trace for all: each record names its port.
start_three
load_three --trace "$work/trace.txt"
check "traced exit status" 7 $?
for port in "$good" "$refusing" "$vanishing"; do
  grep -q "^ *[0-9.]*  $port  open$" "$work/trace.txt"; check "$port in the trace" 0 $?
done
grep -q "^ *[0-9.]*  $vanishing  the device has gone$" "$work/trace.txt"; check "the vanished device in the trace" 0 $?

# Never power-cycled: both captures wait until Ctrl-C, which ends both as aborted.
stop_other_sims
start_other_sim first --device receiver
start_other_sim second --device receiver
"$cli" load -p "$first" -p "$second" -c pwr -r "$work/ramimage.ldr" -f "$work/main.ldp" >"$work/out" 2>"$work/err" &
cli_pid=$!
sleep 2
kill -INT "$cli_pid"
wait "$cli_pid"
check "Ctrl-C exit status" 2 $?
grep -q "^  $first  2  Loading aborted by User (Capturing aborted by User)$" "$work/out"; check "first port aborted" 0 $?
grep -q "^  $second  2  Loading aborted by User (Capturing aborted by User)$" "$work/out"; check "second port aborted" 0 $?
grep -q "^$second: Please power cycle your device now to allow loader to capture it. Time remaining: 1[0-9] sec$" \
  "$work/err"; check "each port's countdown" 0 $?

"$cli" load -p "$first,$first" >"$work/out" 2>"$work/err"
check "a port named twice" 64 $?
grep -q "port $first is named twice" "$work/err"; check "a port named twice said" 0 $?
"$cli" load -p "$first," >"$work/out" 2>"$work/err"
check "empty name in a list" 64 $?
"$cli" info -p "$first" -p "$second" >"$work/out" 2>"$work/err"
check "info on several ports" 64 $?

report
