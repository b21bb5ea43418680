#!/usr/bin/env bash
# kestrum-cli.exe as a technician runs it on a Windows bench PC, here under Wine, against
# the Linux kestrum-sim: the core's test programs, then loads and queries through a Wine
# COM port and a network serial port. Run by scripts/test after the Linux builds:
#   bash tests/windows/run_under_wine.sh LINUX_BUILD WINDOWS_BUILD
#
# Wine's serial layer runs on termios, and on a pseudo-terminal it differs from Windows:
# - DTR, RTS and the modem-status read fail there (a pty has no modem lines), as they do
#   for the Linux build on a pty: the hardware-reset capture and the VDK-1's control-line
#   path cannot be shown here, only the refusal of a line change;
# - WriteFile reports 0 bytes written although the bytes went out (the backend does not
#   rely on the count: with no write time-out a write that ends without error sent all);
# - ClearCommError may report error flags that no line error caused.
# What is checked below does not depend on any of these.
set -u
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
sim=$linux/sim/kestrum-sim
cli=$windows/src/cli/kestrum-cli.exe
source "$(dirname "$0")/../simulator_script.sh"

# A throw-away Wine prefix, its server stopped on the way out.
export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine_cleanup() {
  wineserver -k 2>/dev/null
  cleanup
}
trap wine_cleanup EXIT
started=$(date +%s)
wine wineboot -i >/dev/null 2>&1
check "wine prefix made" 0 $?

# 1. The core's test programs.
(cd "$windows" && ctest --output-on-failure -L windows --timeout 600) >"$work/ctest.out" 2>&1
status=$?
tail -n 25 "$work/ctest.out"
check "core test programs under wine" 0 $status

# 2. A receiver on a pseudo-terminal, which Wine shows as COM7.
export KESTRUM_INI="$work/none.ini"  # no stored settings: defaults only
"$sim" --write-images "$work" --flash-version "9.9 wine" >/dev/null
ram=$(winepath -w "$work/ramimage.ldr" 2>/dev/null)
flash=$(winepath -w "$work/main.ldp" 2>/dev/null)
start_sim --device receiver --rate 9600
ln -sf "$port" "$WINEPREFIX/dosdevices/com7"
wine "$cli" info -p 7 >"$work/out" 2>"$work/err"
check "info through COM7 exit status" 0 $?
tr -d '\r' <"$work/err" | grep -q "^Found receiver at 9600$"; check "info found the receiver by the rate search" 0 $?
wine "$cli" load -p COM7 -c soft -r "$ram" -f "$flash" >"$work/out" 2>"$work/err"
check "soft-break load through COM7 exit status" 0 $?
check "load result" "Loading completed" "$(tr -d '\r' <"$work/out")"
wine "$cli" info -p COM7 --json >"$work/info" 2>"$work/err"
check "info after the load exit status" 0 $?
grep -q '"firmware": "9.9 wine"' "$work/info"; check "the receiver reports the new firmware" 0 $?
wine "$cli" ports >"$work/ports" 2>&1
check "ports exit status" 0 $?
wine "$cli" info -p COM9 >"$work/out" 2>"$work/err"
check "missing port exit status" 1 $?
grep -q "Open COM9 port failed" "$work/err"; check "missing port named" 0 $?

# Ctrl-C: Wine hands the program a SIGINT as the console's Ctrl-C event, which its
# console handler takes as on Windows. The receiver is never power-cycled, so only the
# Ctrl-C ends the capture's wait before its own limit.
start_sim --device receiver
ln -sfn "$port" "$WINEPREFIX/dosdevices/com7"
wine "$cli" load -p COM7 -c pwr -r "$ram" -f "$flash" >"$work/out" 2>"$work/err" &
load_pid=$!
sleep 4
kill -INT "$load_pid"
wait "$load_pid"
check "Ctrl-C exit status" 2 $?
check "Ctrl-C result" "Loading aborted by User" "$(tr -d '\r' <"$work/out")"

# 3. A network serial port (RFC 2217) on the loopback address.
start_sim --device receiver --rfc2217 0
wine "$cli" info -p "$port" --json >"$work/info" 2>"$work/err"
check "info over RFC 2217 exit status" 0 $?
grep -q '"firmware"' "$work/info"; check "info over RFC 2217 reports the firmware" 0 $?

echo "wine tests took $(($(date +%s) - started)) s"
report
