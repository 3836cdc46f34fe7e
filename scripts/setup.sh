#!/usr/bin/env bash
# Installs every Debian package the project needs (idempotent, non-interactive),
# then configures and builds into build/ (or the folder given as $1).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake pkg-config clang clang-format libclang-rt-14-dev
  qtbase5-dev libqt5serialport5-dev libqt5opengl5-dev libqt5charts5-dev
  qttools5-dev qttools5-dev-tools qttranslations5-l10n
  libvtk9-qt-dev libpcl-dev libboost-system-dev libeigen3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libtelnet-dev ser2net pybind11-dev python3-dev python3-numpy python3-pytest
  xvfb xauth libgl1-mesa-dri fonts-noto-cjk
  desktop-file-utils dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=${1:-$here/build}
shift || true
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
