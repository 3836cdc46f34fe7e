#!/usr/bin/env bash
# Soak measurement of the window against the simulated sensor at 460800 baud
# and its highest packet rate: points sent vs points recorded to CSV, CPU
# share of the tool (median) and resident memory at start and end. Also the
# time from launch to the window's first buffer swap (median of 5) and the
# idle peak. The latency to the display's pixels is build/bench/screen_latency's.
#
#   bench/app/soak.sh [SECONDS] [BUILD_DIR]      (default 600 s, build/)
set -euo pipefail
# One display for the whole run, so that start-up figures do not include
# starting a display server.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$@"
fi
here=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-600}
build=${2:-$here/build}
driver=$build/bench/lds_soak_driver
sim=$build/sim/lds-sim
for f in "$driver" "$sim"; do
  [ -x "$f" ] || { echo "missing $f: build the targets lds_soak_driver and lds-sim first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/lds-soak.XXXXXX)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

value() { sed -n "s/^$1=//p" "$2" | tail -1; }

# LDS_SOAK_SKIP_STARTUP=1 skips the start-up figures.
if [ "${LDS_SOAK_SKIP_STARTUP:-0}" != 1 ]; then
  echo "== Start-up (5 launches)"
  startups=()
  for i in 1 2 3 4 5; do
    t0=$(date +%s%N)
    "$driver" --startup-only 1 --t0-ns "$t0" --report "$work/startup$i.txt" >/dev/null 2>&1
    startups+=("$(value startup_ms "$work/startup$i.txt")")
  done
  printf '%s\n' "${startups[@]}" | sort -n > "$work/startups.txt"
  echo "start-up to the window's first buffer swap, ms: $(tr '\n' ' ' < "$work/startups.txt")(median $(sed -n 3p "$work/startups.txt"))"
  echo "idle resident memory: $(value idle_rss_kb "$work/startup5.txt") kB, peak $(value idle_peak_rss_kb "$work/startup5.txt") kB"
fi

echo "== Soak for $seconds s"
"$sim" --link "$work/lds" --baud 460800 --pps max --stats-file "$work/sim-stats.txt" > "$work/sim-out.txt" 2> "$work/sim-err.txt" &
sim_pid=$!
for _ in $(seq 100); do [ -e "$work/lds" ] && break; sleep 0.05; done

"$driver" --port "$work/lds" --baud 460800 --csv "$work/soak.csv" --seconds "$seconds" \
  --report "$work/report.txt" ${LDS_SOAK_SCREENSHOT:+--screenshot "$LDS_SOAK_SCREENSHOT"} \
  > "$work/driver-out.txt" 2> "$work/driver-err.txt" &
driver_pid=$!
driver_rc=0
wait "$driver_pid" || driver_rc=$?
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sim_pid=""

sent=$(value points "$work/sim-stats.txt")
rows=$(( $(wc -l < "$work/soak.csv") - $(grep -c '^angle,dist,intensity$' "$work/soak.csv") ))
echo "driver exit code: $driver_rc"
echo "points sent by the simulator: $sent"
echo "points written to CSV:        $rows (lost: $((sent - rows)))"
echo "CPU share of the tool (median, % of one core): $(value cpu_median_percent "$work/report.txt")"
start_kb=$(value rss_start_kb "$work/report.txt")
end_kb=$(value rss_end_kb "$work/report.txt")
echo "resident memory: $start_kb kB at 5 s, $end_kb kB at the end (growth $((end_kb - start_kb)) kB)"
echo "link: $(sed -n "s/^link_packets/link_packets/p" "$work/report.txt")"
echo "CPU by thread (% of one core, whole run): $(sed -n 's/^thread_cpu_percent //p' "$work/report.txt")"
echo "(latency to the display's pixels: build/bench/screen_latency)"
echo "(work files in $work)"
