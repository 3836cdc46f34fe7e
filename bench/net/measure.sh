#!/usr/bin/env bash
# A sensor on another computer, measured beside the same sensor on a local
# pseudo-terminal, in one run: lds-sim on a pseudo-terminal, served on
# 127.0.0.1 by a real ser2net (raw tcp accepter), as a robot serves it.
#
#   bench/net/measure.sh [lost|latency|cpu|all] [SECONDS] [BUILD_DIR]
#
#   lost     lds-record --baud 460800 for SECONDS (default 600) against
#            lds-sim --baud 460800 --pps max, first on the pseudo-terminal,
#            then through tcp://: points the simulator sent (its --stats-file)
#            against those the recorder received, and its summary's "points
#            lost" (goal: 0 both ways).
#   latency  bench screen_latency (the window on a private Xvfb, read back from
#            the display's pixels) for SECONDS (default 60), on the
#            pseudo-terminal and through tcp://.
#   cpu      bench/app/vs_rviz.sh with ONLY=lds-tool for SECONDS (default 60),
#            on the pseudo-terminal and through tcp:// (LDS_VIA=tcp).
#   all      the three, in this order (the default).
#
# Everything talks over loopback; every process started here is stopped on exit.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
what=${1:-all}
build=${3:-$here/build}
case "$what" in lost | latency | cpu | all) ;; *) echo "usage: $0 [lost|latency|cpu|all] [SECONDS] [BUILD_DIR]" >&2 && exit 2 ;; esac
sim="$build/sim/lds-sim"
record="$build/record/lds-record"
command -v ser2net >/dev/null || { echo "ser2net is missing: run scripts/setup.sh" >&2; exit 1; }

work=$(mktemp -d /tmp/lds-net-measure-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# serve DEVICE BAUD: starts ser2net's raw accepter for DEVICE; sets $served to its address.
serve() {
  local port
  port=$(free_port)
  printf '%%YAML 1.1\n---\nconnection: &sensor\n  accepter: tcp,127.0.0.1,%s\n  connector: serialdev,%s,%sn81,local\n' \
    "$port" "$1" "$2" >"$work/ser2net-$port.yaml"
  ser2net -n -d -u -c "$work/ser2net-$port.yaml" -P "$work/ser2net-$port.pid" >"$work/ser2net-$port.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do
    grep -q "$(printf '0100007F:%04X [0-9A-F:]* 0A' "$port")" /proc/net/tcp && break
    sleep 0.05
  done
  served="tcp://127.0.0.1:$port"
}

lost_run() {  # NAME VIA(pty|tcp) SECONDS
  local name=$1 via=$2 seconds=$3 sim_pid port status=0
  "$sim" --link "$work/$name.pty" --baud 460800 --pps max --stats-file "$work/$name.stats" >/dev/null 2>"$work/$name.sim.err" &
  sim_pid=$!
  pids+=("$sim_pid")
  for _ in $(seq 1 100); do [ -e "$work/$name.pty" ] && break; sleep 0.05; done
  port="$work/$name.pty"
  if [ "$via" = tcp ]; then
    serve "$port" 460800
    port=$served
  fi
  "$record" --port "$port" --baud 460800 --seconds "$seconds" >"$work/$name.out" 2>"$work/$name.err" || status=$?
  kill -TERM "$sim_pid"
  wait "$sim_pid" 2>/dev/null || true
  local sent received summary
  sent=$(sed -n 's/^points=//p' "$work/$name.stats")
  summary=$(cat "$work/$name.out")
  received=$(sed -n 's/.* \([0-9]*\) points received.*/\1/p' <<<"$summary")
  printf '%-16s %s (status %s)\n' "$via:" "$summary" "$status"
  printf '%-16s points sent %s, received %s: %s lost between simulator and recorder\n' "" "$sent" "$received" \
    "$((sent - received))"
  [ -s "$work/$name.err" ] && sed 's/^/                 stderr: /' "$work/$name.err"
  return 0
}

if [ "$what" = lost ] || [ "$what" = all ]; then
  seconds=${2:-600}
  [ "$what" = all ] && seconds=600
  echo "== Points lost over $seconds s at 460800 baud, --pps max"
  lost_run local pty "$seconds"
  lost_run remote tcp "$seconds"
fi

if [ "$what" = latency ] || [ "$what" = all ]; then
  seconds=${2:-60}
  [ "$what" = all ] && seconds=60
  echo "== Latency from the simulator's last packet of a revolution to the display, $seconds s"
  for via in pty tcp; do
    echo "-- $via"
    args=("$seconds")
    [ "$via" = tcp ] && args+=(tcp)
    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$build/bench/screen_latency" "${args[@]}" 2>/dev/null
  done
fi

if [ "$what" = cpu ] || [ "$what" = all ]; then
  seconds=${2:-60}
  [ "$what" = all ] && seconds=60
  echo "== The window's CPU, $seconds s"
  for via in pty tcp; do
    echo "-- $via"
    ONLY=lds-tool LDS_VIA=$via "$here/bench/app/vs_rviz.sh" "$seconds" "$build" | grep -E '^(lds-tool|lds-sim|ser2net|  )' || true
  done
fi
