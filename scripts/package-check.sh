#!/usr/bin/env bash
# Builds the Debian package in the given build folder, installs it, and checks
# the installed programs and desktop entry:
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
for p in xdotool x11-utils desktop-file-utils dpkg-dev xvfb xauth; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

echo "== Building the package"
cmake --build "$build" -j2
rm -f "$build"/lds-tool_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/lds-tool_*.deb)
echo "Package: $deb"

echo "== Installing it"
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --reinstall "$deb" >/dev/null

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

depends=$(dpkg-deb -f "$deb" Depends)
check "Depends names no development package" sh -c "! printf '%s' '$depends' | grep -q -- '-dev'"
for b in /usr/bin/lds-tool /usr/bin/lds-sim /usr/bin/lds-record; do
  [ -x "$b" ] && check "every library of $b resolves" sh -c "! ldd $b | grep -q 'not found'"
done

echo "== Package figures"
echo "Package size:   $(du -k "$deb" | cut -f1) KiB"
echo "Installed size: $(dpkg-query -W -f='${Installed-Size}' lds-tool) KiB"
echo "Depends:        $depends"
if [ $fail -ne 0 ]; then
  echo "Package check FAILED" >&2
  exit 1
fi
echo "Package check passed."
