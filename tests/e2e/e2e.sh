#!/usr/bin/env bash
# One end-to-end case: a platform root, the demo platform, the host running a scripted operator.
#   e2e.sh CASE BIN_DIR SOURCE_DIR
set -euo pipefail
case_name=$1
bin=$2
src=$3
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d /tmp/nx-e2e-$case_name.XXXXXX)
base=$(( 30000 + ($$ % 2000) * 10 ))
plat_port=$base
host_port=$((base + 1))
relay_port=$((base + 4))       # the relay as the console knows the platform (base + 2: video)
relay_back_port=$((base + 5))  # the relay as the platform's outbound proxy
plat_pid=""
relay_pid=""
stop_pid() {
  [ -n "$1" ] || return 0
  pkill -P "$1" 2>/dev/null || true
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
stop_peers() {
  stop_pid "$plat_pid"
  stop_pid "$relay_pid"
  plat_pid="" relay_pid=""
}
finish() {
  rc=$?
  [ -f "$work/flapper.pid" ] && kill "$(cat "$work/flapper.pid")" 2>/dev/null
  stop_peers
  if [ -n "${pg_dir:-}" ]; then
    pg_cluster_stop "$pg_dir" || true
    rm -rf "$pg_dir"
  fi
  if [ $rc -ne 0 ]; then
    echo "---- e2e $case_name failed; platform log tail:"
    tail -n 60 "$work/sip.log" 2>/dev/null || true
    echo "---- console log tail:"
    tail -n 30 "$work/nxroot/log/QUORLA/Quorlaui.log" 2>/dev/null || true
    [ -f "$work/relay.out" ] && { echo "---- relay:"; tail -n 20 "$work/relay.out"; }
    echo "---- kept in $work"
  else
    [ -n "${E2E_KEEP:-}" ] || rm -rf "$work"
  fi
  exit $rc
}
trap finish EXIT

fail() { echo "e2e $case_name: $*"; exit 1; }
expect_event() { grep -qE "EVENT .*$1" "$work/sip.log" || fail "platform never logged: $1"; }

make_root() { "$src/scripts/make_nxroot.sh" "$work/nxroot" "$bin" --plat-port "$plat_port" --host-port "$host_port" "$@"; }

start_platform() {
  "$bin/gbplat" --address 127.0.0.1 --port "$plat_port" --cameras "$src/db/demo/cameras.csv" \
    --log "$work/sip.log" --quiet "$@" >"$work/gbplat.out" 2>&1 &
  plat_pid=$!
  wait_ready "$plat_pid" "$work/gbplat.out" "gbplat listening" 200 || fail "the demo platform did not start"
}

# The relay between console and platform (tools/udprelay.py); the platform must send through it.
start_relay() {
  python3 "$here/tools/udprelay.py" --console-side "$relay_port" --platform-side "$relay_back_port" \
    --console "127.0.0.1:$host_port" --platform "127.0.0.1:$plat_port" --report "$work/relay.log" \
    "$@" >"$work/relay.out" 2>&1 &
  relay_pid=$!
  wait_ready "$relay_pid" "$work/relay.out" "relay listening" 100 || fail "the relay did not start"
}

# A PostgreSQL cluster of the case's own, which it may stop and restart through
# $work/pgctl.sh launch|stop|restart (and mark: remember the time and the plug-in log's length);
# the platform root uses its database DBNAME.
start_own_pg() {
  # shellcheck source=scripts/pg_cluster.sh
  source "$src/scripts/pg_cluster.sh"
  pg_dir=$(mktemp -d /tmp/nx-pg.XXXXXX)  # its own folder: the server runs as another user
  pg_cluster_start "$pg_dir" || fail "PostgreSQL did not start"
  conninfo="$(pg_cluster_conninfo "$pg_dir") dbname=$1"
  psql "$(pg_cluster_conninfo "$pg_dir")" -qc "create database $1" >/dev/null
  make_root --pg "$conninfo"
  plugin_log=$work/nxroot/log/ORVEX/plugin_Orvex.log
  cat >"$work/pgctl.sh" <<PGCTL
#!/usr/bin/env bash
if [ "\$1" = mark ]; then
  date +%s >"$work/restarted_at"
  wc -l <"$plugin_log" >"$work/log_lines_at_restart"
  exit 0
fi
source "$src/scripts/pg_cluster.sh"
export NX_PG_PORT=$NX_PG_PORT
pg_cluster_\$1 "$pg_dir"
PGCTL
  chmod +x "$work/pgctl.sh"
}
# A value from the case's PostgreSQL database ($conninfo).
pg_value() { psql "$conninfo" -qtAc "$1"; }

# Until FILE has a line with TEXT (0), or the process PID is gone or TRIES × 50 ms have passed
# (1, with FILE shown).
wait_ready() {
  for _ in $(seq "$4"); do
    grep -q "$3" "$2" && return 0
    kill -0 "$1" 2>/dev/null || break
    sleep 0.05
  done
  cat "$2"
  return 1
}

run_host() {
  local script=$1
  export PLAT_PID=$plat_pid RELAY_PID=$relay_pid E2E_WORK=$work NX_USER=operator \
    QT_QPA_PLATFORM=offscreen
  export DEMO_DATE=${DEMO_DATE:-$(date -d yesterday +%Y-%m-%d)}
  export SPAN_START_MS=$(( $(date -d "$DEMO_DATE 10:00:00" +%s) * 1000 ))
  # The host unloads the plug-in, whose thread-local variables LeakSanitizer's exit scan may
  # then read through a stale TLS slot and crash on; without TLS as a root it can only report
  # more leaks, never fewer.
  LSAN_OPTIONS="${LSAN_OPTIONS:-}:use_tls=0" \
  timeout "${HOST_TIMEOUT:-240}" "$bin/hmihost" --nxroot "$work/nxroot" \
    --script "$here/scripts/$script" --screenshot "$work/start.png" --settle 500 \
    | tee "$work/host.out" || fail "the scripted session failed ($?)"
}

# Milliseconds between the MARK lines of a session's output, one "step ms" line each.
step_times() {
  awk '/^MARK / { if (seen) print $3, $2 - last; last = $2; seen = 1 }' "$1"
}

sqlite_value() { sqlite3 "$work/nxroot/data/nxmodel.db" "$1"; }

# The catalogue must bring back the cameras of train 10 that the database lost, with their names.
check_catalogue_in_store() {
  local query=$1 count name code expected
  count=$($query "select count(*) from TB6003_CAMERAINFO where F6001_ZONE1NO=10")
  [ "$count" = "24" ] || fail "train 10 has $count cameras in the store after the catalogue, not 24"
  code=$(tail -n 1 "$src/db/demo/cameras.csv" | cut -d, -f1)
  expected=$(tail -n 1 "$src/db/demo/cameras.csv" | cut -d, -f2)
  name=$($query "select F6003_CAMERANAME from TB6003_CAMERAINFO where F6003_CAMERAGB='$code'")
  [ "$name" = "$expected" ] || fail "camera name read back as '$name', expected '$expected'"
  printf '%s' "$name" | iconv -f UTF-8 -t UTF-8 >/dev/null || fail "stored name is not UTF-8"
}

# A lost ACK and a quick Stop may end the playback before the platform's clock started.
check_full_playback_steps() {
  expect_event "playback .* asked .* answering"
  expect_event "PAUSE -> paused"
  expect_event "PLAY Range now ->"
  expect_event "PLAY Range seek ->"
  expect_event "ended by the client"
}

check_full_playback() {
  expect_event "device 01552400000805100001 registered"
  expect_event "subscription .* from 01552400000805100001"
  expect_event "playback .* confirmed: playing"
  expect_event "PAUSE -> paused"
  expect_event "PLAY -> playing, scale 2.00"
  expect_event "PLAY Range seek -> playing, scale 2.00, at 1800.0 s of 3600 s"
  expect_event "ended by the client"
  ! grep -qE "EVENT .*(matches no dialog|outside any dialog|not above)" "$work/sip.log" ||
    fail "an in-dialog request did not match its dialog"
}

case $case_name in
  session_sqlite)
    make_root
    sqlite_value "delete from TB6003_CAMERAINFO where F6001_ZONE1NO=10"
    start_platform
    run_host full_session.txt
    check_full_playback
    check_catalogue_in_store sqlite_value
    ;;
  session_pg)
    [ -n "${NX_TEST_PG_CONNINFO:-}" ] || fail "NX_TEST_PG_CONNINFO is not set (scripts/test.sh starts PostgreSQL)"
    db="nx_e2e_$$"
    psql "$NX_TEST_PG_CONNINFO" -qc "create database $db" >/dev/null
    conninfo="$NX_TEST_PG_CONNINFO dbname=$db"
    make_root --pg "$conninfo"
    pg_value "delete from TB6003_CAMERAINFO where F6001_ZONE1NO=10" >/dev/null
    start_platform
    run_host full_session.txt
    check_full_playback
    check_catalogue_in_store pg_value
    psql "$NX_TEST_PG_CONNINFO" -qc "drop database $db" >/dev/null || true
    ;;
  pg_outage)
    # A cluster of its own: this case stops and restarts it.
    start_own_pg nx_outage
    pg_cluster_stop "$pg_dir"
    start_platform
    run_host pg_outage.txt
    grep -q "\[LoadReference\] trains (TB6001_ZONE1INFO) not read: reason: cannot connect" \
      "$plugin_log" || fail "the plug-in did not log why the lists were not read"
    cameras=$(( $(wc -l <"$src/db/demo/cameras.csv") - 1 ))
    written=$(pg_value "select count(*) from TB6003_CAMERAINFO where F6003_UPDATETIME >= $(cat "$work/restarted_at")")
    [ "$written" = "$cameras" ] ||
      fail "$written of $cameras cameras written back after the database restart"
    ! tail -n +"$(( $(cat "$work/log_lines_at_restart") + 1 ))" "$plugin_log" | grep -q "error,cmdbuf\|not read" ||
      fail "a statement failed after the database restart"
    ;;
  end_of_record)
    make_root
    start_platform --speedup 30
    run_host end_of_record.txt
    expect_event "reached the end of its span: MediaStatus sent"
    expect_event "MediaStatus answered"
    expect_event "ended by the client"
    ;;
  restart)
    make_root
    start_platform
    # Once the platform restarted: every camera row written back again after that second.
    (
      until grep -q "EVENT restart" "$work/sip.log" 2>/dev/null; do sleep 0.05; done
      since=$(date +%s)
      cameras=$(( $(wc -l <"$src/db/demo/cameras.csv") - 1 ))
      until [ "$(sqlite_value "select count(*) from TB6003_CAMERAINFO where F6003_UPDATETIME >= $since")" = "$cameras" ]; do
        sleep 0.1
      done
      echo "catalogue written" >"$work/written"
    ) &
    run_host restart.txt
    expect_event "restart: every registration"
    [ "$(grep -c 'EVENT device 01552400000805100001 registered' "$work/sip.log")" -ge 2 ] ||
      fail "the console did not register again after the platform restart"
    echo "platform restart -> step (ms after the previous one):"
    step_times "$work/host.out"
    ;;
  wrong_password)
    make_root --password 000000
    start_platform
    run_host wrong_password.txt
    ! grep -q "EVENT device 01552400000805100001 registered" "$work/sip.log" ||
      fail "registered with a wrong password"
    expect_event "credentials wrong response"
    ;;
  record_timeline)
    # One record item per page, so that the day's two recordings come as two pages.
    make_root
    start_platform --gap 03:00-03:10 --page-size 1
    run_host record_timeline.txt
    d=$DEMO_DATE
    printf '%s\n' "${d}T00:00:00 ${d}T03:00:00 recorded" "${d}T03:00:00 ${d}T03:10:00 gap" \
      "${d}T03:10:00 ${d}T23:59:59 recorded" >"$work/day.expected"
    diff "$work/day.expected" "$work/day.txt" || fail "the day's timeline is not the platform's"
    [ "$(cat "$work/gap.txt")" = "${d}T03:01:00 ${d}T03:09:00 gap" ] ||
      fail "the gap's timeline reads: $(cat "$work/gap.txt")"
    expect_event "record query .*T00:00:00\.\..*T23:59:59, type all: 2 segments as 2 pages"
    ! grep -q "^INVITE sip:" "$work/sip.log" || fail "a Play over the gap sent an INVITE"
    ;;
  platform_bye)
    make_root
    start_platform
    run_host platform_bye.txt
    expect_event "fault: ending playback"
    ;;
  video)
    make_root
    start_platform --video-size 640x360
    run_host video.txt
    [ "$(grep -c "EVENT .*PLAY Range seek" "$work/sip.log")" = 1 ] ||
      fail "the slider following the picture sent a seek of its own"
    step_times "$work/host.out"
    ;;
  sipp_console)
    make_root
    (cd "$work" && sipp -sf "$here/sipp/console_platform.xml" -i 127.0.0.1 -p "$plat_port" \
      -nostdin -timeout 200s -trace_err -error_file "$work/sipp-errors.log" \
      -trace_msg -message_file "$work/sipp-messages.log" >"$work/sipp.out" 2>&1) &
    plat_pid=$!
    sleep 0.5
    run_host sipp_console.txt
    grep -q "SIP/2.0 200 OK" "$work/sipp-messages.log" || fail "SIPp answered nothing"
    if [ -s "$work/sipp-errors.log" ] && grep -qiE "unexpected|abort|fail" "$work/sipp-errors.log"; then
      cat "$work/sipp-errors.log"
      fail "SIPp saw a message outside its dialog or scenario"
    fi
    ;;
  lossy_link)
    # The same session without loss and with 20 % of the datagrams dropped each way.
    for drop in 0 0.2; do
      stop_peers
      rm -rf "$work/nxroot" "$work/sip.log" "$work/relay.log"
      make_root --plat-port "$relay_port"
      sqlite_value "delete from TB6003_CAMERAINFO where F6001_ZONE1NO=10"
      start_platform --outbound-proxy "127.0.0.1:$relay_back_port"
      start_relay --drop "$drop" --seed "${NX_LOSS_SEED:-7}"
      run_host lossy_link.txt
      step_times "$work/host.out" >"$work/steps-$drop.txt"
      check_full_playback_steps
      cp "$work/relay.out" "$work/relay-$drop.out"
    done
    echo "step       lossless  20 % loss (ms)"
    join "$work/steps-0.txt" "$work/steps-0.2.txt" | awk '{ printf "%-10s %8d %10d\n", $1, $2, $3 }'
    tail -n 1 "$work/relay-0.2.out"
    ;;
  storm)
    make_root --plat-port "$relay_port"
    start_platform --outbound-proxy "127.0.0.1:$relay_back_port"
    start_relay --storm "${NX_STORM_COUNT:-100000}" --seed 11 ${NX_STORM_WITHOUT:+--without "$NX_STORM_WITHOUT"}
    # Freed memory held in ASan's quarantine (256 MB by default) would count as the console's.
    ASAN_OPTIONS="${ASAN_OPTIONS:-}:quarantine_size_mb=8:thread_local_quarantine_size_kb=256" \
      HOST_TIMEOUT=900 run_host storm.txt
    grep "STORM" "$work/relay.log"
    grep -E "^(STALL|MARK)" "$work/host.out"
    idle=$(awk '{ print $2 }' "$work/idle.rss")
    peak=$(awk '{ print $2 }' "$work/peak.rss")
    echo "RSS idle $((idle / 1024)) MB, peak $((peak / 1024)) MB"
    [ $((peak - idle)) -le $((30 * 1024)) ] ||
      fail "peak RSS $((peak / 1024)) MB is more than 30 MB above the idle $((idle / 1024)) MB"
    grep -q "STORM done" "$work/relay.log" || fail "the storm did not finish"
    expect_event "playback .* confirmed: playing"
    expect_event "ended by the client"
    ;;
  soak)
    # The console and the platform with compressed timers (keepalive 0.5 s, re-registration 3 s,
    # subscriptions granted for 4 s), on a PostgreSQL cluster of its own that it restarts.
    start_own_pg nx_soak
    printf '\n[Timing]\nKeepaliveMs=500\nReloginMs=3000\n' >>"$work/nxroot/cfg/Q7cctvUi_replay.ini"
    expires=4
    control_port=$((base + 6))
    start_platform --subscribe-expires-max $expires --control-port $control_port
    # The actions of the soak script: status changes, restarts, memory and the final check.
    cat >"$work/soakctl.sh" <<CTL
#!/usr/bin/env bash
set -e
case \$1 in
  set) printf '%s %s\\n' "\$2" "\$3" >/dev/udp/127.0.0.1/$control_port ;;
  flaps-start)
    bash "$here/tools/flapper.sh" "$src/db/demo/cameras.csv" $control_port 0.3 13 >/dev/null 2>&1 &
    echo \$! >"$work/flapper.pid" ;;
  flaps-stop) kill "\$(cat "$work/flapper.pid")"; rm -f "$work/flapper.pid" ;;
  platform-restart) kill -USR1 $plat_pid ;;
  pg-restart) "$work/pgctl.sh" restart >"$work/pg-restart.log" 2>&1 & ;;
  rss) grep -h VmRSS /proc/\$3/status >"$work/rss-\$2" ;;
  check)
    psql "$conninfo" -qtAc "select F6003_CAMERAGB, F6003_STATUS from TB6003_CAMERAINFO" \\
      >"$work/store.txt"
    python3 "$here/tools/soakcheck.py" --cameras "$src/db/demo/cameras.csv" \\
      --platform-log "$work/sip.log" --form "$work/form.txt" --store "$work/store.txt" \\
      --host-code 01552400000805100001 --expires $expires --online '#00c800' \\
      --offline '#a0a0a0' --rss-start "$work/rss-start" --rss-end "$work/rss-end" ;;
esac
CTL
    chmod +x "$work/soakctl.sh"
    export SOAK_CAMERA=00309900101001000001 SOAK_ONLINE='#00c800' SOAK_OFFLINE='#a0a0a0'
    # Freed memory held in ASan's quarantine would count as the console's growth.
    ASAN_OPTIONS="${ASAN_OPTIONS:-}:quarantine_size_mb=8:thread_local_quarantine_size_kb=256" \
      run_host soak.txt
    echo "status change at the platform -> colour in the form (ms):"
    step_times "$work/host.out" | grep -E '^(off|on) '
    grep -E '^SOAK' "$work/host.out"
    ;;
  *) fail "unknown case" ;;
esac
echo "e2e $case_name: passed"
