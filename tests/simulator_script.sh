# Sourced by the scripts that run our programs against kestrum-sim: a work folder removed
# on exit with the simulators, check (a result counted and printed), start_sim (a fresh
# simulator whose port is in $port), start_other_sim (one more beside it, its port in a
# variable of the caller's choice) and report (the summary and the exit status).
# The caller sets $sim to the kestrum-sim program first.
work=$(mktemp -d)
sim_pid=""
other_pids=""
stop_other_sims() {
  for pid in $other_pids; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  other_pids=""
}
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  stop_other_sims
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
start_other_sim() {  # variable for the port, kestrum-sim options
  local name=$1
  shift
  rm -f "$work/$name.out"  # so the previous simulator of that name is never read
  "$sim" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  other_pids="$other_pids $!"
  for _ in $(seq 100); do [ -s "$work/$name.out" ] && break; sleep 0.1; done
  printf -v "$name" '%s' "$(head -n 1 "$work/$name.out" 2>/dev/null)"
  if [ -z "${!name}" ]; then echo "kestrum-sim did not start: $(cat "$work/$name.err")"; exit 1; fi
}
report() {
  echo "$((checks - failures)) passed, $failures failed"
  [ "$failures" -eq 0 ]
}
