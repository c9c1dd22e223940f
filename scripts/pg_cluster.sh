# Throwaway PostgreSQL cluster for tests: sourced, not run.
#   pg_cluster_start DIR   -> initdb + start; sets and exports NX_PG_PORT; socket in DIR/socket
#   pg_cluster_conninfo DIR -> prints the libpq conninfo of the running cluster
#   pg_cluster_stop DIR
#   pg_cluster_launch DIR   -> starts a stopped cluster again on NX_PG_PORT
#   pg_cluster_restart DIR  -> restarts a running cluster (sessions are ended)
# The server listens on its Unix socket only, so the port just names the socket file and
# clusters of parallel runs cannot collide. Root cannot run initdb/postgres: they run as the
# postgres user then.
pg_bin() { ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1; }

pg_cluster_run() {
  if [ "$(id -u)" -eq 0 ]; then
    su postgres -s /bin/sh -c "$1"
  else
    sh -c "$1"
  fi
}

pg_cluster_start() {
  local dir=$1 bin
  bin=$(pg_bin)
  if [ -z "$bin" ]; then
    echo "pg_cluster: no PostgreSQL server binaries under /usr/lib/postgresql" >&2
    return 1
  fi
  NX_PG_PORT=${NX_PG_PORT:-$(( 20000 + RANDOM % 20000 ))}
  export NX_PG_PORT
  mkdir -p "$dir/data" "$dir/socket"
  chmod 755 "$dir"
  [ "$(id -u)" -eq 0 ] && chown -R postgres:postgres "$dir"
  if ! pg_cluster_run "'$bin/initdb' -D '$dir/data' -A trust -E UTF8 --locale=C.UTF-8 -U postgres >'$dir/initdb.log' 2>&1"; then
    echo "pg_cluster: initdb failed:" >&2
    tail -n 20 "$dir/initdb.log" >&2
    return 1
  fi
  pg_cluster_launch "$dir"
}

pg_cluster_launch() {
  local dir=$1 bin
  bin=$(pg_bin)
  if ! pg_cluster_run "'$bin/pg_ctl' -D '$dir/data' -l '$dir/server.log' -w -t 60 -o \"-p $NX_PG_PORT -k $dir/socket -c listen_addresses='' -c fsync=off -c max_connections=200\" start >/dev/null"; then
    echo "pg_cluster: the server did not start:" >&2
    tail -n 20 "$dir/server.log" >&2
    return 1
  fi
}

pg_cluster_restart() {
  local dir=$1 bin
  bin=$(pg_bin)
  pg_cluster_run "'$bin/pg_ctl' -D '$dir/data' -l '$dir/server.log' -m fast -w -t 60 restart >/dev/null"
}

pg_cluster_conninfo() {
  echo "host=$1/socket port=$NX_PG_PORT dbname=postgres user=postgres"
}

pg_cluster_stop() {
  local dir=$1 bin
  bin=$(pg_bin)
  [ -d "$dir/data" ] || return 0
  pg_cluster_run "'$bin/pg_ctl' -D '$dir/data' -m fast -w stop >/dev/null 2>&1"
}
