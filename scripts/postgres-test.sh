#!/bin/bash
# A PostgreSQL server of the tests' own, from Debian's postgresql package.
#
#   postgres-test.sh start DIR   a new cluster in DIR (anything there before is
#                                stopped and removed), listening only on its
#                                Unix socket in DIR, with the database quorvid,
#                                the owner role quorvid (trusted on the socket)
#                                and the role bench (password BENCH_PASSWORD,
#                                SELECT and INSERT on the tables, USAGE on the
#                                sequences: what a bench writing runs needs)
#   postgres-test.sh start DIR --tcp
#                                the same, also listening on 127.0.0.1 on a
#                                free port of its own (printed, and kept in
#                                DIR/tcp-port for resume), where the owner is
#                                trusted and the bench gives its password: for
#                                programs that reach no Unix socket (Windows
#                                ones under Wine)
#   postgres-test.sh pause DIR   stops the server, keeping the cluster
#   postgres-test.sh resume DIR  starts it again
#   postgres-test.sh stop DIR    stops it and removes DIR
#
# Run as root, the server runs as the user postgres (which the package makes;
# initdb refuses root), else as whoever runs this. When that user cannot reach
# DIR (a build tree under /root), DIR is a link to a folder of its own in /tmp.
set -euo pipefail

action=${1:?start, pause, resume or stop}
dir=${2:?the folder of the cluster}
tcp=0
[ "${3:-}" = --tcp ] && tcp=1
bench_password=${BENCH_PASSWORD:-bench-secret-7Qx}

bin=${QUORVID_POSTGRES_BIN:-}
if [ -z "$bin" ]; then
  for v in /usr/lib/postgresql/*/bin; do [ -x "$v/initdb" ] && bin=$v; done
fi
[ -n "$bin" ] && [ -x "$bin/initdb" ] || { echo "postgres-test.sh: no initdb (apt-get install postgresql)" >&2; exit 1; }

as_server=()
if [ "$(id -u)" -eq 0 ]; then
  id postgres >/dev/null 2>&1 || useradd --system --home-dir /nonexistent --shell /usr/sbin/nologin postgres
  as_server=(runuser -u postgres --)
fi

# The cluster's real folder, which the server's user reaches.
real=$dir
[ -L "$dir" ] && real=$(readlink -f "$dir")
data=$real/data
ctl() { "${as_server[@]}" "$bin/pg_ctl" -D "$data" "$@"; }
stop_server() {
  if [ -f "$data/postmaster.pid" ]; then ctl stop -m fast -w -t 60 >/dev/null 2>&1 || ctl stop -m immediate -w -t 60 >/dev/null 2>&1 || true; fi
}
start_server() {
  # With a TCP port the socket takes the same number, as PostgreSQL has it.
  local listen="" port=5432
  if [ -f "$real/tcp-port" ]; then listen=127.0.0.1; port=$(cat "$real/tcp-port"); fi
  ctl start -w -t 60 -l "$real/server.log" \
    -o "-c listen_addresses='$listen' -c unix_socket_directories='$real' -c port=$port -c fsync=off -c max_connections=100" >/dev/null \
    || { cat "$real/server.log" >&2; exit 1; }
}
# A port no one listens on now, from the kernel's own choice.
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
psql_admin() {
  local port=5432
  [ -f "$real/tcp-port" ] && port=$(cat "$real/tcp-port")
  "${as_server[@]}" "$bin/psql" -X -q -v ON_ERROR_STOP=1 -h "$real" -p "$port" -U quorvid "$@"
}
remove() {
  [ "$real" != "$dir" ] && rm -rf "$real"
  rm -rf "$dir"
}

case $action in
start)
  stop_server
  remove
  mkdir -p "$(dirname "$dir")"
  real=$dir
  if [ ${#as_server[@]} -gt 0 ] && ! "${as_server[@]}" test -x "$(dirname "$dir")"; then
    real=$(mktemp -d /tmp/quorvid-postgres.XXXXXX)
    ln -s "$real" "$dir"
  else
    mkdir -p "$dir"
  fi
  data=$real/data
  [ ${#as_server[@]} -gt 0 ] && chown postgres: "$real"
  chmod 700 "$real"
  "${as_server[@]}" test -w "$real" || { echo "postgres-test.sh: the server's user cannot reach $real" >&2; exit 1; }
  "${as_server[@]}" "$bin/initdb" -D "$data" -U quorvid --auth-local=trust --auth-host=reject -E UTF8 --locale=C.UTF-8 >/dev/null
  # The owner is trusted on the socket; the bench gives its password.
  {
    printf '%s\n' "local all quorvid trust" "local all bench scram-sha-256"
    [ "$tcp" -eq 0 ] || printf '%s\n' "host all quorvid 127.0.0.1/32 trust" "host all bench 127.0.0.1/32 scram-sha-256"
  } | "${as_server[@]}" tee "$data/pg_hba.conf" >/dev/null
  if [ "$tcp" -eq 1 ]; then
    # Taken between the look and the start is possible, if unlikely: one more try.
    free_port > "$real/tcp-port"
    ( start_server ) 2>/dev/null || { free_port > "$real/tcp-port"; start_server; }
  else
    start_server
  fi
  # The socket folder is the server user's; the tests, root or not, reach it.
  chmod 755 "$real"
  psql_admin -d postgres -c "CREATE DATABASE quorvid"
  psql_admin -d postgres -c "CREATE ROLE bench LOGIN PASSWORD '$bench_password'"
  psql_admin -d quorvid -c "REVOKE CREATE ON SCHEMA public FROM PUBLIC" \
    -c "ALTER DEFAULT PRIVILEGES FOR ROLE quorvid GRANT SELECT, INSERT ON TABLES TO bench" \
    -c "ALTER DEFAULT PRIVILEGES FOR ROLE quorvid GRANT USAGE ON SEQUENCES TO bench"
  [ "$tcp" -eq 0 ] || cat "$real/tcp-port"
  ;;
pause) stop_server ;;
resume) start_server ;;
stop)
  stop_server
  remove
  ;;
*) echo "postgres-test.sh: start, pause, resume or stop, not $action" >&2; exit 2 ;;
esac
