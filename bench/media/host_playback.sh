#!/usr/bin/env bash
# The console playing back inside the host against the demo platform on loopback: the time from
# the Play click to the first picture, the host's share of one core and its GUI thread's time per
# picture while playing at 1x (each beside the same span of time idle, just before), and its
# resident memory while playing against idle.
#   bench/media/host_playback.sh BIN_DIR [WxH] [SECONDS]      (default 960x540, 10 s)
# The platform sends a keyframe every second. Run it on a plain (not sanitized) build.
set -euo pipefail
bin=$(cd "$1" && pwd)
size=${2:-960x540}
seconds=${3:-10}
src=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/nx-host-playback.XXXXXX)
base=$((40000 + ($$ % 2000) * 10))
plat_pid=""
cleanup() {
  [ -n "$plat_pid" ] && kill "$plat_pid" 2>/dev/null && wait "$plat_pid" 2>/dev/null
  [ -n "${NX_KEEP:-}" ] && echo "kept in $work" || rm -rf "$work"
}
trap cleanup EXIT

"$src/scripts/make_nxroot.sh" "$work/nxroot" "$bin" --plat-port "$base" --host-port $((base + 1)) \
  >/dev/null
"$bin/gbplat" --address 127.0.0.1 --port "$base" --cameras "$src/db/demo/cameras.csv" \
  --video-size "$size" --quiet --log "$work/sip.log" >"$work/gbplat.out" 2>&1 &
plat_pid=$!
for _ in $(seq 100); do
  grep -q "gbplat listening" "$work/gbplat.out" && break
  sleep 0.05
done

# The host's /proc entries at a moment: "<ms since 1970> <process ticks> <GUI thread ticks>
# <RSS kB>", with the pictures shown so far appended by the script.
cat >"$work/sample.sh" <<'SAMPLE'
#!/bin/sh
pid=$1
now=$(date +%s%3N)
proc=$(awk '{ print $14 + $15 }' /proc/$pid/stat)
gui=$(awk '{ print $14 + $15 }' /proc/$pid/task/$pid/stat)
rss=$(awk '/^VmRSS/ { print $2 }' /proc/$pid/status)
echo "$now $proc $gui $rss $2"
SAMPLE
chmod +x "$work/sample.sh"

cat >"$work/script.txt" <<SCRIPT
timeout 30000
wait-status 订阅状态反馈
select cbxzone1 #1
select cbxzone2 #2
wait-count cbxCamera 1
select cbxCamera #0
date dateEdit_Start \${DEMO_DATE}
time timeEdit_Start 10:00:00
date dateEdit_End \${DEMO_DATE}
time timeEdit_End 11:00:00
wait 5000
exec $work/sample.sh \$PPID 0 >$work/idle
wait $((seconds * 1000))
exec $work/sample.sh \$PPID 0 >$work/idle_end
mark play
click btnPlay
wait-property MainForm framesShown > 0
mark first picture
wait 3000
keep-property MainForm framesShown SHOWN_AT_START
exec $work/sample.sh \$PPID \${SHOWN_AT_START} >$work/start
wait $((seconds * 1000))
keep-property MainForm framesShown SHOWN_AT_END
exec $work/sample.sh \$PPID \${SHOWN_AT_END} >$work/end
click btnStop
wait-property lblTV1Split1 hasFrame = 0
quit
SCRIPT

export DEMO_DATE=$(date -d yesterday +%Y-%m-%d) NX_USER=operator QT_QPA_PLATFORM=offscreen
"$bin/hmihost" --nxroot "$work/nxroot" --script "$work/script.txt" >"$work/host.out" 2>&1 ||
  { tail -n 20 "$work/host.out"; exit 1; }

ticks=$(getconf CLK_TCK)
read -r i0 q0 h0 idle_rss _ <"$work/idle"
read -r i1 q1 h1 _ _ <"$work/idle_end"
read -r t0 p0 g0 _ f0 <"$work/start"
read -r t1 p1 g1 rss f1 <"$work/end"
first=$(awk '/^MARK/ { if ($3 == "play") p = $2; if ($3 == "first") f = $2 } END { print f - p }' \
  "$work/host.out")
awk -v size="$size" -v first="$first" -v wall=$((t1 - t0)) -v proc=$((p1 - p0)) \
  -v gui=$((g1 - g0)) -v frames=$((f1 - f0)) -v iwall=$((i1 - i0)) -v iproc=$((q1 - q0)) \
  -v igui=$((h1 - h0)) -v ticks="$ticks" -v idle="$idle_rss" -v rss="$rss" '
  BEGIN {
    share = 100 * proc / ticks / (wall / 1000)
    ishare = 100 * iproc / ticks / (iwall / 1000)
    gms = 1000 * gui / ticks
    igms = 1000 * igui / ticks * wall / iwall
    printf "%s at 1x: Play to first picture %d ms\n", size, first
    printf "  %.1f s playing, %d pictures: host %.1f %% of a core (idle %.1f %%)\n", wall / 1000,
      frames, share, ishare
    printf "  GUI thread %.2f ms per picture (%.2f beyond idle)\n", gms / frames, (gms - igms) / frames
    printf "  RSS idle %d MB, playing %d MB (+%d MB)\n", idle / 1024, rss / 1024, (rss - idle) / 1024
  }'
