#!/usr/bin/env bash
# CPU and memory of the window next to RViz, each showing the same kind of
# scan: 600 points a revolution, 10 revolutions a second, of the simulated
# room. Both run one after the other on one private Xvfb with Mesa's software
# renderer, so neither gets a GPU the other lacks.
#
#   RViz:     roscore on a free loopback port, bench/app/laserscan_pub.py
#             publishing sensor_msgs/LaserScan on /scan, rviz showing it.
#   lds-tool: lds-sim on a pseudo-terminal, lds-tool connected to it.
#
# After a warm-up each program is watched for SECONDS: CPU share of one core
# (utime + stime over wall time), resident memory (mean VmRSS over the window)
# and its peak (VmHWM). The feeding process (publisher or simulator) is
# measured too and shown on its own line. Each program's CPU is also broken
# down by thread.
#
#   bench/app/vs_rviz.sh [SECONDS] [BUILD_DIR]       (default 60 s, build/)
#
# Environment:
#   WARMUP=S       seconds before each window (default 10)
#   ONLY=rviz|lds-tool   run one half only
#   LDS_BAUD=B     line rate of simulator and tool (default 460800; at 230400
#                  the line carries only about 5880 points/s, short of 600 a
#                  revolution)
#   SHOTS=DIR      save a screenshot of each program (needs ImageMagick's import)
#   KEEP=1         keep the work folder with every log
#   LDS_TOOL_ARGS  more options for lds-tool, e.g. --diagnosis for the plots
#   LDS_TRAILS=N   start lds-tool with trails of N revolutions (1 to 20)
#   LDS_VIA=tcp|rfc2217  connect lds-tool through a real ser2net on 127.0.0.1
#                  serving the simulator's terminal (default: the terminal)
#   SIZE=WxH       both programs' whole windows are resized to W x H pixels
#                  (xdotool windowsize) once they show; the display grows to
#                  hold them (default 800x600, the tool's own first size)
#
# Installs rviz, ros-core, python3-rospy, python3-sensor-msgs and xdotool from
# Debian when missing. Everything talks over loopback; every process started here is
# stopped on exit, and a watchdog ends the run if it overstays.
# cpu_*, rss_*, hwm_* and wall_* are set by name in measure().
# shellcheck disable=SC2154
set -euo pipefail

here=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-60}
build=${2:-$here/build}
warmup=${WARMUP:-10}
only=${ONLY:-}
baud=${LDS_BAUD:-460800}
rps=10
pps=6000

die() {
  echo "vs_rviz: $*" >&2
  exit 1
}
[[ $seconds =~ ^[0-9]+$ && $seconds -ge 5 && $seconds -le 3600 ]] || die "SECONDS must be a whole number from 5 to 3600, not '$seconds'"
[[ $warmup =~ ^[0-9]+$ && $warmup -le 600 ]] || die "WARMUP must be a whole number up to 600, not '$warmup'"
case "$only" in "" | rviz | lds-tool) ;; *) die "ONLY must be rviz or lds-tool, not '$only'" ;; esac
[[ -z ${LDS_TRAILS:-} || ( $LDS_TRAILS =~ ^[0-9]+$ && $LDS_TRAILS -ge 1 && $LDS_TRAILS -le 20 ) ]] || die "LDS_TRAILS must be a whole number from 1 to 20, not '$LDS_TRAILS'"
[[ $baud =~ ^(115200|230400|460800)$ ]] || die "LDS_BAUD must be 115200, 230400 or 460800, not '$baud'"
via=${LDS_VIA:-pty}
case "$via" in pty | tcp | rfc2217) ;; *) die "LDS_VIA must be pty, tcp or rfc2217, not '$via'" ;; esac
size=${SIZE:-800x600}
[[ $size =~ ^([0-9]+)x([0-9]+)$ ]] || die "SIZE must be WIDTHxHEIGHT, like 1600x1000, not '$size'"
width=${BASH_REMATCH[1]}
height=${BASH_REMATCH[2]}
((width >= 640 && width <= 3840 && height >= 480 && height <= 2160)) || die "SIZE must lie between 640x480 and 3840x2160, not '$size'"

# ---------------------------------------------------------------------------
# Debian packages for the RViz half

install_missing() {
  local missing=() p
  local want=(xdotool)
  [ "$only" = lds-tool ] || want+=(rviz ros-core python3-rospy python3-sensor-msgs)
  for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  if [ "$(id -u)" != 0 ]; then
    command -v sudo >/dev/null || die "need root or sudo to install ${missing[*]}"
    sudo=(sudo -n)
  fi
  echo "== Installing ${missing[*]} from Debian"
  local apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -y -o DPkg::Lock::Timeout=600)
  local log
  log=$(mktemp /tmp/vs-rviz-apt.XXXXXX)
  if ! "${apt[@]}" update >"$log" 2>&1 || ! "${apt[@]}" install --no-install-recommends "${missing[@]}" >>"$log" 2>&1; then
    tail -20 "$log" >&2
    die "installing ${missing[*]} failed (log: $log)"
  fi
  rm -f "$log"
}
install_missing

build=$(cd "$build" 2>/dev/null && pwd) || die "no folder $build"
[ -z "${SHOTS:-}" ] || SHOTS=$(mkdir -p "$SHOTS" && cd "$SHOTS" && pwd)
sim=$build/sim/lds-sim
tool=$build/app/lds-tool
pub=$here/bench/app/laserscan_pub.py
if [ "$only" != rviz ]; then
  for f in "$sim" "$tool"; do
    [ -x "$f" ] || die "missing $f: build the targets lds-sim and lds-tool first"
  done
fi
for c in Xvfb /usr/bin/python3; do
  command -v "$c" >/dev/null || die "missing $c (Debian package xvfb or python3)"
done

# ---------------------------------------------------------------------------
# Processes: each is started in a session of its own, so that it and all its
# children can be stopped together by that session's id.

work=$(mktemp -d /tmp/vs-rviz.XXXXXX)
# Every program runs in the work folder, so that anything it saves stays there.
cd "$work"
started=()
xvfb=""
watchdog=""

session_alive() {
  # Any process of the session that is not a zombie.
  ps -o stat= --sid "$1" 2>/dev/null | grep -qv '^Z'
}

stop_session() {
  local pid=$1 i
  kill -TERM -- "-$pid" 2>/dev/null || true
  for i in $(seq 50); do
    session_alive "$pid" || break
    sleep 0.1
  done
  kill -KILL -- "-$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

stop_all() {
  local i
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do stop_session "${started[$i]}"; done
  started=()
}

cleanup() {
  trap - EXIT INT TERM
  if [ -n "$nap" ]; then kill "$nap" 2>/dev/null || true; fi
  stop_all
  if [ -n "$xvfb" ]; then stop_session "$xvfb"; fi
  if [ -n "$watchdog" ]; then stop_session "$watchdog"; fi
  if [ "${KEEP:-0}" = 1 ]; then echo "(logs kept in $work)"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'echo "vs_rviz: interrupted" >&2; exit 130' INT
trap 'echo "vs_rviz: stopped" >&2; exit 143' TERM

# launch NAME CMD...: starts CMD in its own session with output in
# $work/NAME.out and .err; its pid is in $last.
launch() {
  local name=$1
  shift
  setsid "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null &
  last=$!
  started+=("$last")
}

# pause SECONDS: a sleep that a signal cuts short, so that an interrupted
# run cleans up at once rather than after the warm-up.
nap=""
pause() {
  sleep "$1" &
  nap=$!
  wait "$nap" || true
  nap=""
}

proc_alive() {
  local s
  { read -r s <"/proc/$1/stat"; } 2>/dev/null || return 1
  s=${s##*) }
  [ "${s%% *}" != Z ]
}

show_log() {
  # Last lines of a program's error output, for a failure message.
  [ -s "$work/$1.err" ] && { echo "--- last lines of $1's error output:"; tail -15 "$work/$1.err"; } >&2
  return 0
}

# The whole run is bounded: both halves with their warm-ups and start-ups.
limit=$((2 * (seconds + warmup) + 300))
setsid bash -c "sleep $limit; echo 'vs_rviz: over $limit s, stopping' >&2; kill -TERM $$" </dev/null &
watchdog=$!

# One display for both programs, on a number from 150 up that no other
# server holds; Xvfb writes the number to fd 3 once it accepts clients.
display=""
for n in $(seq 150 199); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  launch xvfb Xvfb ":$n" -displayfd 3 -screen 0 "$((width > 1280 ? width : 1280))x$((height > 1024 ? height : 1024))x24" -nolisten tcp -noreset 3>"$work/display"
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    proc_alive "$last" || break
    sleep 0.1
  done
  # The display outlives each half's programs, so it is not among them.
  unset 'started[-1]'
  xvfb=$last
  if [ -s "$work/display" ]; then
    display=":$n"
    break
  fi
  # Lost a race for this number: try the next one.
  stop_session "$xvfb"
  xvfb=""
done
[ -n "$display" ] || { show_log xvfb; die "Xvfb did not start"; }
export DISPLAY=$display
export LIBGL_ALWAYS_SOFTWARE=1
echo "== Display $DISPLAY (Xvfb, Mesa software rendering), windows of $size, warm-up $warmup s, measured $seconds s"

hz=$(getconf CLK_TCK)

# Sum of user and system ticks of a process or thread.
ticks() {
  local s
  { read -r s <"/proc/$1/stat"; } 2>/dev/null || return 1
  s=${s##*) }
  # shellcheck disable=SC2086
  set -- $s
  echo $((${12} + ${13}))
}

status_kb() {
  sed -n "s/^$2:[[:space:]]*\([0-9]*\) kB/\1/p" "/proc/$1/status" 2>/dev/null
}

# thread_snapshot PID FILE: one line per thread, "tid ticks name syscall",
# the last being the number of the system call the thread waits in.
thread_snapshot() {
  local pid=$1 d s c w
  for d in /proc/"$pid"/task/*; do
    { read -r s <"$d/stat" && read -r c <"$d/comm"; } 2>/dev/null || continue
    { read -r w _ <"$d/syscall"; } 2>/dev/null || w="?"
    s=${s##*) }
    # shellcheck disable=SC2086
    set -- $s
    printf '%s\t%s\t%s\t%s\n' "${d##*/}" $((${12} + ${13})) "$c" "$w"
  done >"$2"
}

# thread_table PID START END WALL_S EPOLL_LABEL: CPU by thread name, summed
# over threads of one kind (llvmpipe-0, llvmpipe-1, ... count as
# llvmpipe-*). Threads that kept the program's name are told apart by what
# they wait in: the serial line's I/O thread runs an epoll loop, the
# renderer's and thread pools' workers wait on futexes.
thread_table() {
  local pid=$1 comm
  read -r comm <"/proc/$pid/comm" || return 1
  awk -F'\t' -v pid="$pid" -v comm="$comm" -v hz="$hz" -v wall="$4" -v epoll="$5" '
    # epoll_wait, epoll_pwait and epoll_pwait2 on x86-64
    function in_epoll(w) { return w == 232 || w == 281 || w == 441 }
    FNR == NR { start[$1] = $2; waits[$1] = $4; next }
    {
      d = $2 - (($1 in start) ? start[$1] : 0)
      if ($1 == pid) g = "main thread (GUI)"
      else if ($3 == comm && (in_epoll($4) || in_epoll(waits[$1]))) g = epoll
      else if ($3 == comm) g = "unnamed, other (" comm ")"
      else { g = $3; sub(/[0-9]+$/, "*", g) }
      sum[g] += d; n[g]++; total += d
    }
    END {
      for (g in sum) printf "  %7.1f %%  %2d thread%s  %s\n", 100 * sum[g] / hz / wall, n[g], (n[g] > 1 ? "s" : " "), g
    }' "$2" "$3" | sort -k1,1nr
}

# measure NAME PID FEEDER_PID: watches PID (and the process that feeds it)
# for $seconds and sets cpu_NAME, rss_NAME, hwm_NAME and feed_cpu_NAME.
measure() {
  local name=$1 pid=$2 feeder=$3
  local t0 t1 c0 c1 f0 f1 kb sum=0 max=0 n=0 i
  echo "   load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
  thread_snapshot "$pid" "$work/$name.threads0"
  t0=$(date +%s%N)
  c0=$(ticks "$pid") && f0=$(ticks "$feeder") || die "$name or its feeder is gone before the window"
  for ((i = 1; i <= seconds; i++)); do
    # Sleep to the next whole second of the window, so samples do not drift.
    pause "$(awk -v t0="$t0" -v now="$(date +%s%N)" -v i="$i" 'BEGIN { s = (t0 + i * 1e9 - now) / 1e9; print (s > 0 ? s : 0) }')"
    proc_alive "$pid" || { show_log "$name"; die "$name exited during the window"; }
    proc_alive "$feeder" || die "the process feeding $name exited during the window"
    kb=$(status_kb "$pid" VmRSS)
    sum=$((sum + kb))
    [ "$kb" -le "$max" ] || max=$kb
    n=$((n + 1))
  done
  c1=$(ticks "$pid")
  f1=$(ticks "$feeder")
  t1=$(date +%s%N)
  thread_snapshot "$pid" "$work/$name.threads1"
  local wall
  wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
  printf -v "cpu_$name" '%s' "$(awk -v d=$((c1 - c0)) -v hz="$hz" -v w="$wall" 'BEGIN { printf "%.1f", 100 * d / hz / w }')"
  printf -v "feed_cpu_$name" '%s' "$(awk -v d=$((f1 - f0)) -v hz="$hz" -v w="$wall" 'BEGIN { printf "%.1f", 100 * d / hz / w }')"
  printf -v "rss_$name" '%s' "$(awk -v s="$sum" -v n="$n" 'BEGIN { printf "%.1f", s / n / 1024 }')"
  # VmHWM is updated lazily and can trail the samples, so take the larger.
  printf -v "hwm_$name" '%s' "$(awk -v k="$(status_kb "$pid" VmHWM)" -v m="$max" 'BEGIN { printf "%.1f", (k > m ? k : m) / 1024 }')"
  printf -v "wall_$name" '%s' "$wall"
  echo "   load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
  if [ -n "${SHOTS:-}" ]; then
    if command -v import >/dev/null; then
      mkdir -p "$SHOTS" && import -display "$DISPLAY" -window root "$SHOTS/$name.png" 2>/dev/null &&
        echo "   screenshot: $SHOTS/$name.png"
    else
      echo "   (no screenshot: ImageMagick's import is missing)"
    fi
  fi
}

# resize_window NAME PID: resizes the program's visible top-level window to
# SIZE and checks that the display gave it that size.
resize_window() {
  local id geometry pid=$2
  wait_for 30 eval 'id=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | tail -1); [ -n "$id" ]' ||
    die "$1 showed no window within 30 s"
  xdotool windowsize "$id" "$width" "$height"
  wait_for 10 eval 'geometry=$(xdotool getwindowgeometry "$id" 2>/dev/null | sed -n "s/.*Geometry: //p"); [ "$geometry" = "${width}x${height}" ]' ||
    die "$1's window is ${geometry:-of unknown size}, not $size"
  echo "   $1's window resized to $geometry"
}

# wait_for SECONDS CMD...: polls CMD every 0.2 s.
wait_for() {
  local end=$(($(date +%s) + $1))
  shift
  until "$@"; do
    [ "$(date +%s)" -lt "$end" ] || return 1
    sleep 0.2
  done
}

# ---------------------------------------------------------------------------
# RViz

master_up() {
  /usr/bin/python3 -c 'import sys, xmlrpc.client
xmlrpc.client.ServerProxy(sys.argv[1]).getPid("/vs_rviz")' "$ROS_MASTER_URI" 2>/dev/null
}
subscribed() { grep -q '^subscribed' "$work/publisher.out"; }

# A top-down view of the scan in the laser's own frame, in a window of SIZE
# like the tool's, so that both renderers fill about as many pixels.
write_rviz_config() {
  cat >"$1" <<'EOF'
Panels:
  - Class: rviz/Displays
    Name: Displays
Visualization Manager:
  Class: ""
  Displays:
    - Class: rviz/Grid
      Enabled: true
      Name: Grid
      Cell Size: 1
      Plane Cell Count: 10
      Reference Frame: <Fixed Frame>
      Value: true
    - Class: rviz/LaserScan
      Enabled: true
      Name: LaserScan
      Topic: /scan
      Queue Size: 10
      Style: Points
      Size (Pixels): 3
      Size (m): 0.02
      Color Transformer: Intensity
      Channel Name: intensity
      Use rainbow: true
      Autocompute Intensity Bounds: true
      Decay Time: 0
      Position Transformer: XYZ
      Selectable: true
      Alpha: 1
      Value: true
  Enabled: true
  Global Options:
    Background Color: 48; 48; 48
    Fixed Frame: laser
    Frame Rate: 30
  Name: root
  Tools:
    - Class: rviz/Interact
      Hide Inactive Objects: true
  Value: true
  Views:
    Current:
      Class: rviz/TopDownOrtho
      Name: Current View
      Near Clip Distance: 0.01
      Scale: 45
      Angle: 0
      X: 0.8
      Y: 0.4
      Target Frame: <Fixed Frame>
      Value: TopDownOrtho (rviz)
    Saved: ~
Window Geometry:
  Height: HEIGHT
  Width: WIDTH
  X: 0
  Y: 0
  Hide Left Dock: false
  Hide Right Dock: true
EOF
}

run_rviz() {
  echo "== RViz"
  command -v rviz >/dev/null || die "rviz is not installed"
  local port
  port=$(/usr/bin/python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
  export ROS_MASTER_URI=http://127.0.0.1:$port ROS_IP=127.0.0.1 ROS_HOSTNAME=127.0.0.1
  export ROS_HOME=$work/ros ROS_LOG_DIR=$work/ros/log
  mkdir -p "$ROS_LOG_DIR"

  launch roscore roscore -p "$port"
  wait_for 30 master_up || { show_log roscore; die "roscore did not answer on $ROS_MASTER_URI"; }
  echo "   roscore on $ROS_MASTER_URI"

  # The publisher outlives the window by a margin and is stopped at the end.
  launch publisher /usr/bin/python3 -u "$pub" $((seconds + warmup + 180))
  local pub_pid=$last
  write_rviz_config "$work/laserscan.rviz"
  sed -i "s/HEIGHT$/$height/; s/WIDTH$/$width/" "$work/laserscan.rviz"
  launch rviz rviz -d "$work/laserscan.rviz"
  local rviz_pid=$last
  wait_for 120 subscribed || {
    show_log publisher
    show_log rviz
    die "rviz did not subscribe to /scan within 120 s"
  }
  proc_alive "$rviz_pid" || { show_log rviz; die "rviz exited"; }
  resize_window rviz "$rviz_pid"
  echo "   rviz (pid $rviz_pid) subscribed to /scan; warming up $warmup s"
  pause "$warmup"
  proc_alive "$rviz_pid" || { show_log rviz; die "rviz exited during the warm-up"; }
  measure rviz "$rviz_pid" "$pub_pid"
  echo "   rviz threads (% of one core):"
  thread_table "$rviz_pid" "$work/rviz.threads0" "$work/rviz.threads1" "$wall_rviz" "unnamed, epoll loops (ROS network)"
  local errors
  errors=$(grep -c -E 'ERROR|WARN|rror' "$work/rviz.err" "$work/rviz.out" | awk -F: '{ s += $2 } END { print s + 0 }')
  echo "   rviz printed $errors error or warning lines$([ "$errors" -gt 0 ] && echo ", first: $(grep -h -m1 -E 'ERROR|WARN|rror' "$work/rviz.err" "$work/rviz.out" | head -1)")"
  stop_all
}

# ---------------------------------------------------------------------------
# lds-tool

tool_has_port() {
  # The tool holds the terminal behind the link open once it is connected.
  local target fd
  target=$(readlink -f "$work/lds") || return 1
  for fd in /proc/"$1"/fd/*; do
    [ "$(readlink "$fd" 2>/dev/null)" = "$target" ] && return 0
  done
  return 1
}

# The simulator's point count and the time it was written (the file is
# rewritten once a second), as "points seconds".
sim_points() {
  local f=$work/sim-stats.txt
  echo "$(sed -n 's/^points=//p' "$f" 2>/dev/null | tail -1) $(stat -c %.3Y "$f" 2>/dev/null)"
}

run_tool() {
  echo "== lds-tool"
  # The window connects by itself only with the command-line port options;
  # without them there is nothing to measure, so stop with a clear message.
  local help
  help=$(timeout -k 5 20 "$tool" --help 2>&1 || true)
  if ! grep -q -- '--connect' <<<"$help"; then
    die "TODO: $tool has no --port/--baud/--connect options, so it cannot be connected without a person; build a version that has them"
  fi

  launch sim "$sim" --link "$work/lds" --autostart --rps "$rps" --pps "$pps" --baud "$baud" --stats-file "$work/sim-stats.txt"
  local sim_pid=$last
  wait_for 10 test -e "$work/lds" || { show_log sim; die "lds-sim did not create $work/lds"; }
  # A settings folder of its own: measured from the first-start settings,
  # with trails of LDS_TRAILS revolutions if given.
  if [ -n "${LDS_TRAILS:-}" ]; then
    mkdir -p "$work/config/lds-tool"
    printf '[view]\ntrails=%s\n' "$LDS_TRAILS" >"$work/config/lds-tool/lds-tool.conf"
  fi
  local port=$work/lds holder server_pid=""
  if [ "$via" != pty ]; then
    # ser2net opens the terminal when the tool connects, and holds it then.
    local net_port stack=tcp
    net_port=$(/usr/bin/python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])')
    [ "$via" = rfc2217 ] && stack="telnet(rfc2217),tcp"
    printf '%%YAML 1.1\n---\nconnection: &sensor\n  accepter: %s,127.0.0.1,%s\n  connector: serialdev,%s,%sn81,local\n' \
      "$stack" "$net_port" "$work/lds" "$baud" >"$work/ser2net.yaml"
    launch ser2net ser2net -n -d -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid"
    server_pid=$last
    wait_for 10 grep -q "$(printf '0100007F:%04X [0-9A-F:]* 0A' "$net_port")" /proc/net/tcp || {
      show_log ser2net
      die "ser2net did not listen on 127.0.0.1:$net_port"
    }
    port=$via://127.0.0.1:$net_port
  fi
  # shellcheck disable=SC2086 # the extra options are words on purpose
  launch tool env XDG_CONFIG_HOME="$work/config" "$tool" --port "$port" --baud "$baud" --connect ${LDS_TOOL_ARGS:-}
  local tool_pid=$last
  holder=${server_pid:-$tool_pid}
  wait_for 60 tool_has_port "$holder" || {
    show_log tool
    die "lds-tool did not open $port within 60 s"
  }
  resize_window lds-tool "$tool_pid"
  echo "   lds-tool (pid $tool_pid) connected to $port at $baud baud; warming up $warmup s"
  pause "$warmup"
  proc_alive "$tool_pid" || { show_log tool; die "lds-tool exited during the warm-up"; }
  local p0 p1 s0=0 s1=0
  p0=$(sim_points)
  [ -z "$server_pid" ] || s0=$(ticks "$server_pid")
  measure tool "$tool_pid" "$sim_pid"
  [ -z "$server_pid" ] || s1=$(ticks "$server_pid")
  p1=$(sim_points)
  [ -z "$server_pid" ] || awk -v d=$((s1 - s0)) -v hz="$hz" -v w="$wall_tool" 'BEGIN {
    printf "   ser2net (between simulator and tool) used %.1f %% of one core\n", 100 * d / hz / w
  }'
  awk -v a="$p0" -v b="$p1" -v r="$rps" 'BEGIN {
    split(a, x, " "); split(b, y, " ")
    if (y[2] > x[2]) printf "   simulator sent %.0f points/s, %.0f a revolution\n", (y[1] - x[1]) / (y[2] - x[2]), (y[1] - x[1]) / (y[2] - x[2]) / r
  }'
  echo "   lds-tool threads (% of one core):"
  thread_table "$tool_pid" "$work/tool.threads0" "$work/tool.threads1" "$wall_tool" "serial I/O (unnamed, epoll loop)"
  stop_all
}

[ "$only" = lds-tool ] || run_rviz
[ "$only" = rviz ] || run_tool

# ---------------------------------------------------------------------------
# Table

echo
printf '%-34s %18s %9s %13s\n' program "CPU % of one core" "RSS MB" "peak RSS MB"
if [ "$only" != lds-tool ]; then
  printf '%-34s %18s %9s %13s\n' rviz "$cpu_rviz" "$rss_rviz" "$hwm_rviz"
  printf '%-34s %18s %9s %13s\n' "  laserscan_pub.py (feeds rviz)" "$feed_cpu_rviz" - -
fi
if [ "$only" != rviz ]; then
  printf '%-34s %18s %9s %13s\n' lds-tool "$cpu_tool" "$rss_tool" "$hwm_tool"
  printf '%-34s %18s %9s %13s\n' "  lds-sim (feeds lds-tool)" "$feed_cpu_tool" - -
fi
echo "(RSS: mean VmRSS over the $seconds s window; peak: VmHWM; MB = 1024 kB)"
if [ -z "$only" ]; then
  awk -v ct="$cpu_tool" -v cr="$cpu_rviz" -v mt="$rss_tool" -v mr="$rss_rviz" 'BEGIN {
    printf "lds-tool / rviz: CPU %s, RSS %.2f\n", (cr > 0 ? sprintf("%.2f", ct / cr) : "n/a (rviz used no CPU)"), mt / mr
  }'
fi
exit 0
