#!/usr/bin/env bash
# Creates a platform root for the console: the settings, log, role and database configuration,
# and a database holding the demo data. Used by the demo and by the end-to-end tests.
#   scripts/make_nxroot.sh DIR BIN_DIR [options]
#     --plat-port N      video platform SIP port (default 5061)
#     --host-port N      console SIP port (default 7610)
#     --password TEXT    console password (default 482913)
#     --pg CONNINFO      keep the store on PostgreSQL instead of SQLite
set -euo pipefail
root=$1
bin=$2
shift 2
plat_port=5061 host_port=7610 password=482913 pg=""
while [ $# -gt 0 ]; do
  case $1 in
    --plat-port) plat_port=$2; shift 2 ;;
    --host-port) host_port=$2; shift 2 ;;
    --password) password=$2; shift 2 ;;
    --pg) pg=$2; shift 2 ;;
    *) echo "make_nxroot: unknown option $1" >&2; exit 2 ;;
  esac
done

mkdir -p "$root/cfg" "$root/data" "$root/log"

cat > "$root/cfg/Q7cctvUi_replay.ini" <<INI
[General]
metro=3
uiLibrary=Quorlaui.dll
bgConsistent=0
background_red=7
background_green=54
background_blue=80
cameraOnlineColor=0, 200, 0
cameraOfflineColor=160, 160, 160

[LoginInfo]
PlatIP=127.0.0.1
PlatPort=$plat_port
HostIP=127.0.0.1
HostSIPPort=$host_port
HostDevCode=01552400000805100001
PlatDevCode=01552403048401000001
UserName=admin
Password=$password
SN=170
INI

cat > "$root/cfg/debug.ini" <<INI
[QUORLA]
DebugFlag=1
DebugLevel=3
MaxFiles=20
MaxFileSize=4194304

[ORVEX]
DebugFlag=1
DebugLevel=3
MaxFiles=20
MaxFileSize=4194304
INI

cat > "$root/cfg/rbac.ini" <<INI
; Operators of the demo control room. NX_USER (else the login name) picks the entry.
[Users]
operator = Dispatcher
root = Dispatcher
[Descriptions]
operator = Line 3 CCTV dispatcher
[Levels]
Dispatcher = 1,1,0
INI

if [ -n "$pg" ]; then
  printf '[Database]\nBackend=postgresql\nConnInfo=%s\n' "$pg" > "$root/cfg/nxdb.ini"
else
  printf '[Database]\nBackend=sqlite\nPath=%s\n' "$root/data/nxmodel.db" > "$root/cfg/nxdb.ini"
fi
"$bin/nxdb" --nxroot "$root" demo --replace >/dev/null
