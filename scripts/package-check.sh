#!/usr/bin/env bash
# Builds the Debian packages in the given build folder (lds-tool, liblds0,
# liblds-dev, python3-lds), installs them, and checks the installed programs
# and desktop entry, the library as a user builds against it (the example
# with CMake and with pkg-config, run against lds-sim) and the Python module:
#   scripts/package-check.sh BUILD
# Needs root (or sudo) for apt-get.
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD-DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
title="Kestrix Pelto LDS Tool-std.0.2.0"
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

# Tools used below, installed only when missing.
need=()
for p in xdotool x11-utils desktop-file-utils dpkg-dev xvfb xauth pkg-config cmake g++; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

echo "== Building the packages"
cmake --build "$build" -j2
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/lds-tool_*.deb)
debs=("$build"/lds-tool_*.deb "$build"/liblds0_*.deb "$build"/liblds-dev_*.deb "$build"/python3-lds_*.deb)
echo "Packages: ${debs[*]##*/}"

echo "== Installing them"
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq -o DPkg::Lock::Timeout=120 --reinstall \
  "${debs[@]}" >/dev/null

fail=0
check() {  # description command...
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what" >&2
    fail=1
  fi
}

for f in /usr/share/applications/lds-tool.desktop /usr/share/icons/hicolor/scalable/apps/lds-tool.svg \
  /usr/share/doc/lds-tool/README.md /usr/share/doc/lds-tool/LICENSE; do
  check "installed $f" test -s "$f"
done
check "desktop-file-validate" desktop-file-validate /usr/share/applications/lds-tool.desktop

if [ -x /usr/bin/lds-sim ]; then
  check "lds-sim --help" sh -c '/usr/bin/lds-sim --help >/dev/null'
else
  echo "skipped: /usr/bin/lds-sim is not in this build"
fi
if [ -x /usr/bin/lds-record ]; then
  check "lds-record --help" sh -c '/usr/bin/lds-record --help >/dev/null'
else
  echo "skipped: /usr/bin/lds-record is not in this build"
fi

if [ -x /usr/bin/lds-tool ]; then
  # Start the installed window on a private X server, wait until a window with
  # its title is mapped, then end it. Each xdotool search is a client that
  # comes and goes: -noreset keeps the server from resetting as it leaves,
  # which refuses a window connecting at that moment.
  window_check() {
    xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" bash -c '
      title=$1
      /usr/bin/lds-tool >/tmp/lds-tool-package-check.log 2>&1 &
      pid=$!
      for _ in $(seq 1 300); do
        if xdotool search --onlyvisible --name "^${title}\$" >/dev/null 2>&1; then
          xwininfo -name "$title" | grep -E "Width|Height" | tr -s " " | tr "\n" " "; echo
          kill -TERM "$pid"
          wait "$pid" 2>/dev/null || true
          exit 0
        fi
        if ! kill -0 "$pid" 2>/dev/null; then
          echo "lds-tool exited before its window appeared:" >&2
          cat /tmp/lds-tool-package-check.log >&2
          exit 1
        fi
        sleep 0.1
      done
      echo "no window titled \"$title\" within 30 s" >&2
      kill -TERM "$pid" 2>/dev/null || true
      exit 1
    ' _ "$title"
  }
  check "lds-tool shows its window \"$title\"" window_check
else
  echo "skipped: /usr/bin/lds-tool is not in this build"
fi

echo "== The library and the Python module as a user takes them"
work=$(mktemp -d /tmp/lds-package-check-XXXXXX)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Users link the library without Qt, VTK, PCL or Boost: no public header may
# bring one in, directly or through another header.
headers_clean() {
  local h bad=0
  for h in /usr/include/lds/*.h; do
    if ! g++ -std=c++17 -fsyntax-only -H -x c++ "$h" 2>"$work/trace"; then
      echo "$h does not compile on its own:" >&2
      cat "$work/trace" >&2
      bad=1
    elif grep -E '/(qt5|Qt[A-Za-z]*|vtk[^/]*|pcl[^/]*|boost)/' "$work/trace" >&2; then
      echo "$h includes the headers above" >&2
      bad=1
    fi
  done
  return $bad
}
check "no installed public header includes a Qt, VTK, PCL or Boost header" headers_clean

cp "$(dirname "$0")/../examples/nearest.cpp" "$(dirname "$0")/../examples/CMakeLists.txt" "$work/"
check "the example builds with CMake (find_package(lds))" \
  sh -c "cmake -S '$work' -B '$work/cmake' >'$work/cmake.log' 2>&1 && cmake --build '$work/cmake' >>'$work/cmake.log' 2>&1 || { cat '$work/cmake.log' >&2; exit 1; }"
check "the example builds with pkg-config --cflags --libs lds" \
  sh -c "g++ -std=c++17 -o '$work/nearest-pc' '$work/nearest.cpp' \$(pkg-config --cflags --libs lds)"

/usr/bin/lds-sim --link "$work/sim" >/dev/null 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/sim" ] && break; sleep 0.1; done
# The simulated room's nearest point is the box's corner, 1.9 m away.
nearest_runs() {  # program
  local out
  out=$("$1" "$work/sim" 230400 3) || return 1
  echo "$out"
  [ "$(printf '%s\n' "$out" | grep -cE '^revolution [0-9]+: 19[0-9][0-9] mm at 2[12][0-9]\.[0-9] degrees$')" -eq 3 ]
}
check "the CMake-built example reads 3 revolutions from lds-sim" nearest_runs "$work/cmake/nearest"
check "the pkg-config-built example reads 3 revolutions from lds-sim" nearest_runs "$work/nearest-pc"

python_module() {
  local where
  where=$(cd "$work" && env -u PYTHONPATH /usr/bin/python3 -c 'import lds; print(lds.__file__)') || return 1
  echo "$where"
  case "$where" in /usr/lib/python3/dist-packages/*) ;; *) return 1 ;; esac
  (cd "$work" && env -u PYTHONPATH /usr/bin/python3 - "$work/sim" <<'PY'
import sys, lds
with lds.Sensor(sys.argv[1]) as sensor:
    sensor.start()
    revs = list(sensor.revolutions(count=2, timeout=5.0))
    sensor.stop()
assert [r.number for r in revs] == [1, 2] and all(len(r.distance) > 400 for r in revs), revs
print("python:", revs)
PY
  )
}
check "the installed Python module imports from dist-packages and reads lds-sim" python_module

for lib in /usr/lib/*/liblds.so.0 /usr/lib/python3/dist-packages/lds.cpython-*.so; do
  check "every library of $lib resolves" sh -c "! ldd $lib | grep -q 'not found'"
done

depends=$(dpkg-deb -f "$deb" Depends)
check "Depends names no development package" sh -c "! printf '%s' '$depends' | grep -q -- '-dev'"
for b in /usr/bin/lds-tool /usr/bin/lds-sim /usr/bin/lds-record; do
  [ -x "$b" ] && check "every library of $b resolves" sh -c "! ldd $b | grep -q 'not found'"
done

echo "== Package figures"
echo "Package size:   $(du -k "$deb" | cut -f1) KiB"
echo "Installed size: $(dpkg-query -W -f='${Installed-Size}' lds-tool) KiB"
echo "Depends:        $depends"
for p in liblds0 liblds-dev python3-lds; do
  echo "$p: $(dpkg-query -W -f='${Installed-Size}' "$p") KiB, Depends: $(dpkg-query -W -f='${Depends}' "$p")"
done
if [ $fail -ne 0 ]; then
  echo "Package check FAILED" >&2
  exit 1
fi
echo "Package check passed."
