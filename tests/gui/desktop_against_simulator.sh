#!/usr/bin/env bash
# The desktop program as a production line scripts it, against kestrum-sim on a
# pseudo-terminal, without a display: `kestrum ... -a -e` loads by itself and ends with
# status 0; a load that fails leaves the program open.
set -u
kestrum=$1
sim=$2
cli=$3
source "$(dirname "$0")/../simulator_script.sh"
export QT_QPA_PLATFORM=offscreen
export KESTRUM_INI="$work/kestrum.ini"
firmware() {  # what the simulated device reports now, as kestrum-cli reads it
  "$cli" info -p "$port" "$@" --json 2>/dev/null | sed -n 's/.*"firmware": "\([^"]*\)".*/\1/p'
}

mkdir -p "$work/rx" "$work/soft" "$work/pbr"
"$sim" --write-images "$work/rx" --flash-version "8.1 desktop" >/dev/null
"$sim" --write-images "$work/soft" --flash-version "8.2 soft" >/dev/null
"$sim" --write-images "$work/pbr" --power-version "8.3 board" >/dev/null

start_sim --device receiver --power-cycle-after 300
timeout 60 "$kestrum" -p "$port" -s 115200 -d rec -r "$work/rx/ramimage.ldr" -f "$work/rx/main.ldp" -c pwr -a -e
check "power-on capture load exit status" 0 $?
check "power-on capture load installed the firmware" "8.1 desktop" "$(firmware)"

start_sim --device receiver --rate 9600
timeout 60 "$kestrum" -p "$port" -s 115200 -d rec -r "$work/soft/ramimage.ldr" -f "$work/soft/main.ldp" -c soft -a -e
check "soft-break load from another rate exit status" 0 $?
check "soft-break load installed the firmware" "8.2 soft" "$(firmware)"

start_sim --device powerboard --power-cycle-after 300
KESTRUM_TRACE="$work/trace.txt" timeout 60 "$kestrum" -p "$port" -d pbr -r "$work/pbr/powbrd.ldr" -c pwr -a -e
check "power-board load exit status" 0 $?
grep -qE "^ +[0-9]+\.[0-9]{3}  $port  out [0-9]+$" "$work/trace.txt"; check "KESTRUM_TRACE holds the bytes sent" 0 $?
check "power-board load installed the firmware" "8.3 board" "$(firmware -d pbr)"

# A device that refuses the image: the program stays open with the result on screen.
start_sim --device receiver --device-id 33 --power-cycle-after 300
timeout 20 "$kestrum" -p "$port" -d rec -r "$work/rx/ramimage.ldr" -f "$work/rx/main.ldp" -c pwr -a -e
check "failed load leaves the program open" 124 $?

# -a loads only on the port that -p named. The stored port's device (its wire log shows
# what reached it) hears nothing when -p names a port the list does not offer, and nothing
# when -p names another device, which is the one loaded.
start_sim --device receiver --power-cycle-after 300 --wire-log "$work/stored.wire"
start_other_sim named --device receiver --power-cycle-after 300
printf '[PortSettings]\nName=%s\n' "$port" >"$work/stored.ini"
KESTRUM_INI="$work/stored.ini" timeout 10 "$kestrum" -p /dev/nonexistent -r "$work/rx/ramimage.ldr" \
  -f "$work/rx/main.ldp" -c pwr -a -e 2>"$work/err"
check "-a with a port not offered leaves the program open" 124 $?
refusal="kestrum: Port /dev/nonexistent is not available: No such file or directory"
check "the refusal on stderr" 1 "$(grep -cx "$refusal" "$work/err")"
KESTRUM_INI="$work/stored.ini" timeout 60 "$kestrum" -p "$named" -r "$work/rx/ramimage.ldr" \
  -f "$work/rx/main.ldp" -c pwr -a -e
check "-a on the named device exit status" 0 $?
check "the named device was loaded" "8.1 desktop" "$(port=$named firmware -d rec)"
kill "$sim_pid" && wait "$sim_pid"
sim_pid=""
# The pseudo-terminal's own settings are its first rate; any program that opens it sets another.
check "the stored port's device heard no byte" 0 "$(grep -cE '^[0-9.]+ pc ' "$work/stored.wire")"
check "the stored port's rate was never set" 1 "$(grep -cE '^[0-9.]+ rate ' "$work/stored.wire")"

# Without a display: the help on the terminal, and the reason the window cannot come.
env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY "$kestrum" -h >"$work/out" 2>&1
check "help without a display exit status" 0 $?
grep -q "^Usage: kestrum" "$work/out"; check "help without a display on the terminal" 0 $?
env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY "$kestrum" -a >"$work/out" 2>&1
check "no display exit status" 1 $?
grep -q "no display" "$work/out"; check "no display said" 0 $?

# A record file chosen in the settings: the load appends one record, with the device as it
# reported itself before and after.
start_sim --device receiver --power-cycle-after 300 --firmware "7.9 old"
printf '[ProgramSettings]\nRecordFile=%s\n' "$work/desk.jsonl" >"$work/record.ini"
KESTRUM_INI="$work/record.ini" timeout 90 "$kestrum" -p "$port" -d rec -r "$work/rx/ramimage.ldr" \
  -f "$work/rx/main.ldp" -c pwr -a -e
check "recorded load exit status" 0 $?
check "one record, as JSON" "completed 0 7.9 old 8.1 desktop 2 kestrum" \
  "$(jq -r '"\(.result) \(.code) \(.before.firmware) \(.after.firmware) \(.images | length) \(.program | split(" ")[0])"' \
    "$work/desk.jsonl")"
report
