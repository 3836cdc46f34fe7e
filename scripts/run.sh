#!/usr/bin/env bash
# Sets everything up, starts the sensor simulator on a pseudo-terminal linked
# at /tmp/lds-sim, and starts the window connected to it. Pass a device path
# (for example /dev/ttyUSB0) to skip the simulator and use a real sensor.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
sim_pid=""
if [ $# -eq 0 ]; then
  # Streams at once, so the room shows as soon as the window connects.
  "$here/build/sim/lds-sim" --link /tmp/lds-sim --autostart >/dev/null &
  sim_pid=$!
  trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true' EXIT
  for _ in $(seq 50); do [ -e /tmp/lds-sim ] && break; sleep 0.1; done
  echo "Simulated sensor on /tmp/lds-sim: the window connects to it; 停止 and 启动 stop and start it."
  "$here/build/app/lds-tool" --port /tmp/lds-sim --baud 230400 --connect
else
  echo "Use $1 as the 串口 (serial port): the window fills it in; click 连接 then 启动."
  "$here/build/app/lds-tool" --port "$1"
fi
