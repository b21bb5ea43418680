#!/usr/bin/env bash
# The checked load and the production record against simulated receivers: a load whose
# images carry the expected firmware, the same load again (left alone), a device that does
# not come back after the load, four programs sharing one record file, and a record file
# that cannot be written.
set -u
cli=$1
sim=$2
source "$(dirname "$0")/../simulator_script.sh"
export KESTRUM_INI="$work/none.ini"  # no stored settings: defaults only
record="$work/record.jsonl"

"$sim" --write-images "$work" --flash-version "9.6 line" >/dev/null
load() {  # port, extra options
  local port=$1
  shift
  "$cli" load -p "$port" -c soft -r "$work/ramimage.ldr" -f "$work/main.ldp" --record "$record" "$@" \
    >"$work/out" 2>"$work/err"
}
last() {  # jq filter on the last record
  tail -n 1 "$record" | jq -r "$1"
}

# Loaded, but the new firmware never starts: the query after it tries every rate three
# times (some 2 minutes), so it runs beside the other cases.
start_other_sim dead --device receiver --unpaced --no-start-after-load
"$cli" load -p "$dead" -c soft -r "$work/ramimage.ldr" -f "$work/main.ldp" --record "$work/dead.jsonl" --check \
  >"$work/dead.out" 2>/dev/null &
dead_pid=$!

start_sim --device receiver --unpaced --firmware "9.5 line" --id "RX-0042"
load "$port" --expect-firmware "9.6 line"
check "expected firmware: exit status" 0 $?
check "expected firmware: shown" "Loading completed; the device now reports firmware 9.6 line" "$(cat "$work/out")"
check "expected firmware: record" "completed 0 9.5 line 9.6 line RX-0042 2 Receiver" \
  "$(last '[.result, .code, .before.firmware, .after.firmware, .after.identifier, (.images | length), .kind] | join(" ")')"
check "the images by the bytes sent" "$(sha256sum "$work/ramimage.ldr" | cut -c1-64) $(stat -c %s "$work/main.ldp")" \
  "$(last '"\(.images[0].sha256) \(.images[1].size)"')"
last '.time' | grep -Eq '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z$'
check "UTC time" 0 $?
check "station and program" "$(uname -n) kestrum-cli" "$(last '"\(.station) \(.program | split(" ")[0])"')"

# Again: the device is current, so nothing but the query goes to it.
"$cli" --trace "$work/trace" load -p "$port" -c soft -r "$work/ramimage.ldr" -f "$work/main.ldp" \
  --record "$record" --expect-firmware "9.6 line" --json >"$work/out" 2>"$work/err"
check "already current: exit status" 0 $?
check "already current: record" "skipped 0 9.6 line null 0" \
  "$(last '[.result, .code, .before.firmware, .after, (.images | length)] | map(tostring) | join(" ")')"
check "already current: summary" "skipped 1 0" "$(jq -r '"\(.ports[0].outcome) \(.skipped) \(.completed)"' "$work/out")"
check "already current: the port opened once" 1 "$(grep -c ' open$' "$work/trace")"
grep -q "reset" "$work/trace"
check "already current: no reset sent" 1 $?
load "$port" --expect-firmware "9.6 line" --force
check "forced: loaded again" "completed 9.6 line" "$(last '"\(.result) \(.after.firmware)"')"

# Four programs at once on one record file: only whole lines, each valid JSON.
for n in 1 2 3 4; do start_other_sim "rx$n" --device receiver --unpaced; done
rm -f "$record"
pids=""
for n in 1 2 3 4; do
  name="rx$n"
  "$cli" load -p "${!name}" -c soft -r "$work/ramimage.ldr" -f "$work/main.ldp" --record "$record" \
    >/dev/null 2>&1 &
  pids="$pids $!"
done
statuses=""
for pid in $pids; do wait "$pid"; statuses="$statuses $?"; done
check "four at once: exit statuses" " 0 0 0 0" "$statuses"
check "four at once: four lines" 4 "$(wc -l <"$record")"
check "four at once: each valid JSON" "completed completed completed completed" \
  "$(jq -r '.result' "$record" | tr '\n' ' ' | sed 's/ $//')"

load "$port" --record "$work/no such folder/record.jsonl" --json
check "unwritable record: exit status" 64 $?
grep -q "cannot open the record file" "$work/err"
check "unwritable record: said" 0 $?
check "unwritable record: nothing loaded" "" "$(grep -i "capture\|Found receiver" "$work/err")"
wait "$dead_pid"
check "not back: exit status" 10 $?
check "not back: record" "failed 10 null" "$(jq -r '[.result, .code, .after] | map(tostring) | join(" ")' "$work/dead.jsonl")"
check "not back: said" "Loading completed, but the device did not answer after it" "$(cat "$work/dead.out")"
report
