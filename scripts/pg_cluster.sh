# Throwaway PostgreSQL cluster for tests: sourced, not run.
# pg_cluster_start DIR  -> sets NX_PG_PORT; socket in DIR/socket. pg_cluster_stop DIR.
pg_bin() { ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1; }

pg_cluster_start() {
  local dir=$1 bin
  bin=$(pg_bin)
  [ -n "$bin" ] || return 1
  NX_PG_PORT=${NX_PG_PORT:-$(( 20000 + RANDOM % 20000 ))}
  export NX_PG_PORT
  mkdir -p "$dir/data" "$dir/socket"
  chmod 755 "$dir"
  local run=""
  if [ "$(id -u)" -eq 0 ]; then
    chown -R postgres:postgres "$dir"
    run="su postgres -s /bin/sh -c"
  else
    run="sh -c"
  fi
  $run "$bin/initdb -D '$dir/data' -A trust -E UTF8 --locale=C.UTF-8 -U postgres >'$dir/initdb.log' 2>&1" || return 1
  $run "$bin/pg_ctl -D '$dir/data' -l '$dir/server.log' -w -t 60 -o \"-p $NX_PG_PORT -k $dir/socket -c listen_addresses='' -c fsync=off\" start >/dev/null" || return 1
}

pg_cluster_stop() {
  local dir=$1 bin
  bin=$(pg_bin)
  [ -d "$dir/data" ] || return 0
  if [ "$(id -u)" -eq 0 ]; then
    su postgres -s /bin/sh -c "$bin/pg_ctl -D '$dir/data' -m fast -w stop >/dev/null 2>&1"
  else
    "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1
  fi
}
