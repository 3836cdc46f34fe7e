#!/usr/bin/env bash
# Measures lds-record against lds-sim at 460800 baud and the highest packet
# rate, recording CSV and PCD output:
#   bench/record/measure.sh [SECONDS (default 300)] [BUILD-DIR (default build)]
# Prints the recorder's CPU share (user + system time over wall time, of one
# core) and compares the points the simulator sent with the points recorded
# (goal: none lost).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
duration=${1:-300}
build=${2:-$here/build}
sim="$build/sim/lds-sim"
record="$build/record/lds-record"
for exe in "$sim" "$record"; do
  [ -x "$exe" ] || { echo "missing $exe: build the targets lds-sim and lds-record first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/lds-record-measure-XXXXXX)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill -TERM "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" --link "$work/pty" --baud 460800 --pps max --stats-file "$work/sim.stats" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 1 100); do [ -e "$work/pty" ] && break; sleep 0.05; done

echo "Recording ${duration} s at 460800 baud with CSV and PCD output ..."
status=0
/usr/bin/time -f "%U %S %e" -o "$work/time" \
  "$record" --port "$work/pty" --baud 460800 --seconds "$duration" \
  --csv "$work/scan.csv" --pcd "$work/pcd" >"$work/record.out" 2>"$work/record.err" || status=$?

# Let the simulator write its final counters.
kill -TERM "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sim_pid=""

read -r user sys wall <"$work/time"
sent=$(sed -n 's/^points=//p' "$work/sim.stats")
packets=$(sed -n 's/^packets=//p' "$work/sim.stats")
summary=$(cat "$work/record.out")
received=$(sed -n 's/.* \([0-9]*\) points received.*/\1/p' <<<"$summary")
rows=$(($(wc -l <"$work/scan.csv") - 1))
pcds=$(find "$work/pcd" -name 'rev_*.pcd' | wc -l)
csv_bytes=$(stat -c %s "$work/scan.csv")

echo "lds-record exit status: $status"
echo "recorder summary:       $summary"
[ -s "$work/record.err" ] && sed 's/^/recorder stderr:        /' "$work/record.err"
awk -v u="$user" -v s="$sys" -v w="$wall" 'BEGIN { printf "CPU:                    %.2f s user + %.2f s system over %.1f s = %.2f %% of one core\n", u, s, w, 100 * (u + s) / w }'
echo "packets sent:           $packets"
echo "points sent:            $sent"
echo "points received:        $received"
echo "CSV rows:               $rows ($csv_bytes bytes)"
echo "PCD files:              $pcds"
lost=$((sent - received))
awk -v s="$sent" -v r="$received" -v w="$wall" 'BEGIN { printf "rate:                   %.0f points/s\n", r / w }'
if [ "$lost" -eq 0 ] && [ "$rows" -eq "$received" ] && [ "$status" -eq 0 ]; then
  echo "RESULT: no point lost"
else
  echo "RESULT: $lost points lost between sender and recorder, $((received - rows)) not written as rows"
  exit 1
fi
