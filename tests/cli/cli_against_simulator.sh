#!/usr/bin/env bash
# kestrum-cli as a user runs it, against kestrum-sim on a pseudo-terminal: a load that
# succeeds, one refused for the wrong device, one cancelled with Ctrl-C, and info.
set -u
cli=$1
sim=$2
source "$(dirname "$0")/../simulator_script.sh"
load_with_signal() {  # signal, seconds after the start, load options; returns the exit status
  local signal=$1 after=$2
  shift 2
  "$cli" load -p "$port" "$@" >"$work/out" 2>"$work/err" &
  local cli_pid=$!
  sleep "$after"
  kill -"$signal" "$cli_pid"
  wait "$cli_pid"
}
export KESTRUM_INI="$work/none.ini"  # no stored settings: defaults only

"$sim" --write-images "$work" --flash-version "9.9 test" >/dev/null
start_sim --device receiver --rate 9600 --wire-log "$work/wire.log"
"$cli" load -p "$port" -c soft -r "$work/ramimage.ldr" -f "$work/main.ldp" >"$work/out" 2>"$work/err"
check "load exit status" 0 $?
check "load result" "Loading completed" "$(cat "$work/out")"
grep -q "^Found receiver at 9600$" "$work/err"; check "rate search shown" 0 $?
"$cli" info -p "$port" --json >"$work/info" 2>/dev/null
check "info exit status" 0 $?
grep -q '"firmware": "9.9 test"' "$work/info"; check "info reports the new firmware" 0 $?
kill "$sim_pid" && wait "$sim_pid"; sim_pid=""  # the wire log is complete once the simulator ends
printable_sent() { awk '$2 == "pc" && $4 != "" { printf "%s", substr($4, 2, 1) } END { print "" }' "$work/wire.log"; }
printable_sent | grep -q '##%DM%dm##'; check "wire log holds the tagged probe" 0 $?
grep -q ' rate 9600$' "$work/wire.log"; check "wire log holds the rate search" 0 $?

# The wire trace: every byte with its time and direction, and the line's changes beside them.
# What it shows must be what crossed the simulator's end of the line, byte for byte in order.
start_sim --device receiver --wire-log "$work/traced-wire.log"
"$cli" --trace "$work/trace.txt" load -p "$port" -c soft -r "$work/ramimage.ldr" -f "$work/main.ldp" >"$work/out" 2>"$work/err"
check "traced load exit status" 0 $?
kill "$sim_pid" && wait "$sim_pid"; sim_pid=""
traced_hex() {  # out|in: the bytes of that direction's records, one hex byte a line
  awk -v want="$1" '/^#/ { next }
    /^            / { if (take) { n = split(substr($0, 19, 49), b, " "); for (i = 1; i <= n; i++) print b[i] } next }
    { take = ($(NF - 1) == want && $NF ~ /^[0-9]+$/) }' "$work/trace.txt"
}
logged_hex() { awk -v want="$1" '$2 == want { print tolower($3) }' "$work/traced-wire.log"; }
traced_hex out >"$work/traced.out"
logged_hex pc >"$work/logged.out"
[ "$(wc -l <"$work/traced.out")" -gt 1000 ]; check "trace holds the load's bytes" 0 $?
cmp -s "$work/traced.out" "$work/logged.out"; check "trace holds every byte the device heard, in order" 0 $?
paste -sd' ' "$work/traced.out" | grep -q '06 06 06 06'; check "trace holds the handshake" 0 $?
traced_hex in >"$work/traced.in"
logged_hex device >"$work/logged.in"
cmp -s "$work/traced.in" "$work/logged.in"; check "trace holds every byte the device sent, in order" 0 $?
head -n 1 "$work/trace.txt" | grep -q "^# Kestrum wire trace: version .* --trace "; check "trace heading" 0 $?
grep -qE "^ +[0-9]+\.[0-9]{3}  $port  out [0-9]+$" "$work/trace.txt"; check "trace holds bytes sent" 0 $?
grep -qE "^ +[0-9]+\.[0-9]{3}  $port  in [0-9]+$" "$work/trace.txt"; check "trace holds bytes received" 0 $?
grep -qE "  $port  line 115200 baud 8N1" "$work/trace.txt"; check "trace holds the line settings" 0 $?
"$cli" load --trace "$work/no/trace.txt" -p /dev/null >"$work/out" 2>"$work/err"
check "unwritable trace exit status" 64 $?
grep -q "the wire trace cannot be written: $work/no/trace.txt" "$work/err"; check "unwritable trace named" 0 $?
# A trace is never waited for nor written over an image: a named pipe is refused at once,
# and an image of the load, under its own name or another, is a command-line mistake.
mkfifo "$work/trace.fifo"
timeout 20 "$cli" --trace "$work/trace.fifo" info -p /dev/null >"$work/out" 2>"$work/err"
check "trace into a named pipe exit status" 64 $?
grep -q "trace.fifo is not a regular file (it is a named pipe)" "$work/err"; check "trace into a named pipe named" 0 $?
cp "$work/main.ldp" "$work/kept.ldp"
ln "$work/main.ldp" "$work/hard.ldp"
for trace in main.ldp hard.ldp; do
  "$cli" load --trace "$work/$trace" -p /dev/null -r "$work/ramimage.ldr" -f "$work/main.ldp" --json >"$work/out" 2>"$work/err"
  check "trace onto an image exit status" 64 $?
  grep -q "{\"error\": \"the trace $work/$trace is the image $work/main.ldp of the load: tracing would overwrite it\", \"exitStatus\": 64}" "$work/out"
  check "trace onto an image told as JSON" 0 $?
done
cmp -s "$work/main.ldp" "$work/kept.ldp"; check "image kept" 0 $?
"$cli" ports --json >"$work/ports"
check "ports --json exit status" 0 $?
check "ports --json gives an array" "[" "$(head -c 1 "$work/ports")"

start_sim --device receiver --device-id 33
"$cli" load -p "$port" -c soft -r "$work/ramimage.ldr" -f "$work/main.ldp" >"$work/out" 2>"$work/err"
check "wrong device exit status" 5 $?
check "wrong device result" "Error version checking" "$(cat "$work/out")"
grep -q "^Improper RAM file for this device$" "$work/err"; check "wrong device reason" 0 $?

start_sim --device receiver   # never power-cycled: the capture waits until Ctrl-C
load_with_signal INT 2 -c pwr -r "$work/ramimage.ldr" -f "$work/main.ldp"
check "Ctrl-C exit status" 2 $?
check "Ctrl-C result" "Loading aborted by User" "$(cat "$work/out")"
grep -q "Time remaining: 1[0-9] sec" "$work/err"; check "power-cycle countdown shown" 0 $?

# Images that are no regular files are refused at once, for what they are.
mkfifo "$work/pipe.ldp"
timeout 30 "$cli" load -p "$port" -c soft -r "$work/ramimage.ldr" -f "$work/pipe.ldp" >"$work/out" 2>"$work/err"
check "named pipe as image exit status" 9 $?
grep -q "pipe.ldp is not a regular file (it is a named pipe)" "$work/err"; check "named pipe named as such" 0 $?
timeout 30 "$cli" load -p "$port" -c soft -r /dev/zero >"$work/out" 2>"$work/err"
check "/dev/zero as image exit status" 9 $?
grep -q "too short" "$work/err"; check "/dev/zero not called too short" 1 $?
timeout 30 "$cli" load -p "$port" -c soft -r <(cat "$work/ramimage.ldr") -f "$work/main.ldp" >"$work/out" 2>"$work/err"
check "process substitution as image exit status" 9 $?

# A Flash image shorter than its header is refused as an image-file error: the device keeps
# its firmware. A missing image is found before the port is opened: not a byte on the line.
firmware() { "$cli" info -p "$port" --json 2>/dev/null | grep -o '"firmware": "[^"]*"'; }
printf '\377\377\377\377\024abcde' >"$work/cut.ldp"
start_sim --device receiver --wire-log "$work/refused-wire.log"
before=$(firmware)
"$cli" load -p "$port" -c soft -r "$work/ramimage.ldr" -f "$work/cut.ldp" >"$work/out" 2>"$work/err"
check "header-short Flash image exit status" 9 $?
grep -q "^Flash file $work/cut.ldp is too short (10 bytes)" "$work/err"; check "header-short Flash image named" 0 $?
check "header-short Flash image leaves the firmware" "$before" "$(firmware)"
start_sim --device receiver --wire-log "$work/refused-wire.log"
for absent in "-r $work/absent.ldr -f $work/main.ldp" "-r $work/ramimage.ldr -f $work/absent.ldp"; do
  # shellcheck disable=SC2086
  "$cli" load -p "$port" -c soft $absent >"$work/out" 2>"$work/err"
  check "missing image exit status" 9 $?
  grep -q "^Can't open .* file $work/absent.ld.: No such file" "$work/err"; check "missing image named" 0 $?
done
kill "$sim_pid" && wait "$sim_pid"; sim_pid=""
# The simulator's own opening of its terminal is all the log may hold.
check "missing image: nothing on the line" "" "$(grep -vE '^#| open | close$| rate 38400$' "$work/refused-wire.log")"

# A reader that goes away, or a terminal that hangs up, does not end the load.
mkdir -p "$work/v2" "$work/v3"
"$sim" --write-images "$work/v2" --flash-version "9.8 piped" >/dev/null
start_sim --device receiver
"$cli" load -p "$port" -c soft -r "$work/v2/ramimage.ldr" -f "$work/v2/main.ldp" 2>&1 | true
check "closed output pipe exit status" 0 "${PIPESTATUS[0]}"
"$cli" info -p "$port" --json 2>/dev/null | grep -q '"firmware": "9.8 piped"'; check "loaded through a closed pipe" 0 $?
"$sim" --write-images "$work/v3" --flash-version "9.7 hung up" --ram-size 60000 >/dev/null
start_sim --device receiver
load_with_signal HUP 1 -c soft -r "$work/v3/ramimage.ldr" -f "$work/v3/main.ldp"
check "hang-up exit status" 0 $?
check "hang-up result" "Loading completed" "$(cat "$work/out")"

# A network server that answers the open and then goes silent is said to have stopped
# answering, also as the reason in the summary, and every wait on it ends.
start_sim --device receiver --rfc2217 0 --rfc2217-silent-after-open
peer=${port#rfc2217://}
timeout 60 "$cli" load -p "$port" -c soft -r "$work/ramimage.ldr" -f "$work/main.ldp" --json >"$work/out" 2>"$work/err"
check "silent server: load exit status" 8 $?
grep -q "\"status\": \"Lost connection with port $port: the server at $peer stopped answering" "$work/out"
check "silent server: the reason in the summary" 0 $?
timeout 60 "$cli" info -p "$port" >"$work/out" 2>"$work/err"
check "silent server: info exit status" 1 $?
grep -q "^Lost connection with port $port: the server at $peer stopped answering" "$work/err"
check "silent server: info says why" 0 $?

"$cli" load -p /dev/does-not-exist >"$work/out" 2>"$work/err"
check "missing port exit status" 64 $?
"$cli" load -s 12345 -p "$port" --json >"$work/out" 2>"$work/err"
check "bad speed exit status" 64 $?
check "bad speed told as JSON" '{"error": "speed 12345 is not one of 600, 1200, ... 460800", "exitStatus": 64}' "$(cat "$work/out")"

report
