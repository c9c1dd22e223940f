#!/usr/bin/env bash
# The main job: builds everything, creates a demo platform root with an SQLite database of demo
# data, starts the demo video platform on loopback and then the HMI host with the replay console.
# With a display the operator works in the window; without one a scripted walk-through runs and
# leaves screenshots and the SIP log in the work folder. Ctrl-C stops everything.
#   scripts/demo.sh [WORK_DIR]      (default: ./work-demo)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mkdir -p "${1:-$here/work-demo}" && cd "${1:-$here/work-demo}" && pwd)
build=${NX_BUILD_DIR:-$here/build}
plat_port=${NX_DEMO_PLAT_PORT:-5061}
host_port=${NX_DEMO_HOST_PORT:-7610}

NX_SANITIZE=0 "$here/scripts/bootstrap.sh" "$build"
bin=$build/bin

rm -rf "$work/nxroot" "$work/shots"
mkdir -p "$work/shots"
"$here/scripts/make_nxroot.sh" "$work/nxroot" "$bin" --plat-port "$plat_port" --host-port "$host_port"

plat_pid=""
cleanup() {
  [ -n "$plat_pid" ] && kill "$plat_pid" 2>/dev/null && wait "$plat_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$bin/gbplat" --address 127.0.0.1 --port "$plat_port" --cameras "$here/db/demo/cameras.csv" \
  --log "$work/sip.log" >"$work/gbplat.out" 2>&1 &
plat_pid=$!
for _ in $(seq 100); do
  grep -q "gbplat listening" "$work/gbplat.out" 2>/dev/null && break
  kill -0 "$plat_pid" 2>/dev/null || { cat "$work/gbplat.out"; exit 1; }
  sleep 0.1
done

export NX_USER=operator
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${NX_DEMO_HEADLESS:-0}" != "1" ]; then
  echo "demo: the console is open; close the window or press Ctrl-C to stop."
  "$bin/hmihost" --nxroot "$work/nxroot"
else
  # Yesterday 10:00 to 11:00: inside the platform's recordings.
  export DEMO_DATE=$(date -d yesterday +%Y-%m-%d)
  export SPAN_START_MS=$(( $(date -d "$DEMO_DATE 10:00:00" +%s) * 1000 ))
  rc=0
  "$bin/hmihost" --nxroot "$work/nxroot" --screenshot "$work/shots/00-start.png" \
    --script "$here/host/scripts/walkthrough.txt" || rc=$?
  echo
  echo "demo: walk-through finished with exit code $rc"
  echo "demo: screenshots:      $work/shots/"
  echo "demo: SIP log:          $work/sip.log"
  echo "demo: console log:      $work/nxroot/log/QUORLA/Quorlaui.log"
  echo "demo: plug-in log:      $work/nxroot/log/ORVEX/plugin_Orvex.log"
  echo "demo: database:         $work/nxroot/data/nxmodel.db"
  exit $rc
fi
