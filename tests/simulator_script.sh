# Sourced by the scripts that run our programs against kestrum-sim: a work folder removed
# on exit with the simulator, check (a result counted and printed), start_sim (a fresh
# simulator whose port is in $port) and report (the summary and the exit status).
# The caller sets $sim to the kestrum-sim program first.
work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
checks=0
check() {  # description, expected, actual
  checks=$((checks + 1))
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
report() {
  echo "$((checks - failures)) passed, $failures failed"
  [ "$failures" -eq 0 ]
}
