#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run (skipping those already
# there), then configures and builds one tree. Safe to run again.
#   scripts/bootstrap.sh [BUILD_DIR]        (default: build)
#   NX_SANITIZE=1 builds with ASan+UBSan;  NX_BOOTSTRAP_BUILD=0 only installs.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${1:-$here/build}

packages=(
  cmake g++ make pkg-config clang libclang-rt-14-dev clang-format
  qtbase5-dev libqt5sql5-sqlite xvfb xauth fonts-wqy-microhei
  libsqlite3-dev sqlite3 postgresql libpq-dev libinih-dev
  sip-tester tshark libosip2-dev libgtest-dev libgmock-dev libbenchmark-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  iproute2 procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  echo "wireshark-common wireshark-common/install-setuid boolean false" | $sudo_cmd debconf-set-selections
  $sudo_cmd apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

[ "${NX_BOOTSTRAP_BUILD:-1}" = "1" ] || exit 0

sanitize=OFF
[ "${NX_SANITIZE:-0}" = "1" ] && sanitize=ON
cmake -S "$here" -B "$build_dir" -DNX_SANITIZE=$sanitize -DCMAKE_BUILD_TYPE=${NX_BUILD_TYPE:-Release}
cmake --build "$build_dir" -j "$(nproc)"
