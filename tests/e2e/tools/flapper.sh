#!/usr/bin/env bash
# Changes camera statuses at the demo platform through its control port until it is stopped:
# every INTERVAL seconds a camera drawn from the list is set ON or OFF (seeded, so a run repeats).
#   flapper.sh CAMERAS_CSV CONTROL_PORT INTERVAL SEED
set -u
csv=$1 port=$2 interval=$3
RANDOM=$4
mapfile -t codes < <(tail -n +2 "$csv" | cut -d, -f1)
[ ${#codes[@]} -gt 0 ] || exit 1
states=(ON OFF)
while true; do
  printf '%s %s\n' "${codes[RANDOM % ${#codes[@]}]}" "${states[RANDOM % 2]}" \
    >/dev/udp/127.0.0.1/"$port" || true
  sleep "$interval"
done
