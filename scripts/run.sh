#!/usr/bin/env bash
# Sets everything up, starts the sensor simulator on a pseudo-terminal linked
# at /tmp/lds-sim, and starts the window. Pass a device path (for example
# /dev/ttyUSB0) to skip the simulator and use a real sensor.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
sim_pid=""
if [ $# -eq 0 ]; then
  "$here/build/sim/lds-sim" --link /tmp/lds-sim >/dev/null &
  sim_pid=$!
  trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true' EXIT
  echo "Simulated sensor ready: type /tmp/lds-sim into the 串口 box, choose 230400, click 连接 then 启动."
else
  echo "Use $1 as the 串口 (serial port) in the window."
fi
"$here/build/app/lds-tool"
