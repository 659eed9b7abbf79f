# What the benchmark scripts share; sourced by them, not run.
#
#   bench_setup NAME       installs what is needed, builds into $build (or
#                          $OVIX_BUILD_DIR) and makes the scratch folder $work
#                          ($OVIX_BENCH_DIR, else a new one under /var/tmp),
#                          removed on exit
#   start_private_mariadb  starts a MariaDB of its own in $work/server,
#                          stopped on exit; sets $host and $port
#   create_administrator   the general database's administrator "system"
#                          with a generated password, given to ovixpatch only
#                          through OVIX_ADMIN_PASSWORD; sets $admin_password
#   create_embedded_store  an embedded store in $store with the same
#                          administrator (after create_administrator)
#   sql [SQL]              runs SQL from $1 or standard input on that server
#   alternate PREP A B     the fastest seconds of the shell commands A and B,
#                          run in turn ${OVIX_BENCH_RUNS:-3} times after a
#                          warm-up of both, PREP run untimed before each
#   measure COMMAND...     prints "seconds peak_kib" of the command, whose
#                          output is discarded (standard error shown when it
#                          fails)
#   OVIX_BENCH_BASELINE    an earlier ovixpatch to measure beside this one
#   OVIX_BENCH_NO_BUILD=1  measure $OVIX_BUILD_DIR as it is, without building

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${OVIX_BUILD_DIR:-$here/build}
ovixpatch="$build/ovixpatch"
# Another build of ovixpatch (an earlier commit) to measure beside this one
# on the same data in the same run; its rows and the ratio are printed too.
baseline=${OVIX_BENCH_BASELINE:-}
server=""

bench_setup() {  # name
  bash "$here/scripts/install-deps.sh" >/dev/null
  # OVIX_BENCH_NO_BUILD=1 measures the build as it is (e.g. one made for
  # the benchmarks only, without the dialogs).
  [ "${OVIX_BENCH_NO_BUILD:-0}" = 1 ] || bash "$here/scripts/build.sh" "$build" >/dev/null
  work=${OVIX_BENCH_DIR:-$(mktemp -d "/var/tmp/ovix-$1-bench.XXXXXX")}
  mkdir -p "$work"
  trap bench_cleanup EXIT
}

bench_cleanup() {
  if [ -n "$server" ]; then
    bash "$here/scripts/mariadb-test-server.sh" stop "$server" >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}

start_private_mariadb() {
  server="$work/server"
  eval "$(bash "$here/scripts/mariadb-test-server.sh" start "$server" 2>"$work/server.log")"
  host=$OVIX_TEST_MARIADB_HOST
  port=$OVIX_TEST_MARIADB_PORT
}

sql() {  # runs SQL from stdin or from $1 as the account of the option file
  if [ $# -gt 0 ]; then
    mariadb --defaults-file="$OVIX_MYSQL_CNF" -N -B -e "$1"
  else
    mariadb --defaults-file="$OVIX_MYSQL_CNF" -N -B
  fi
}

# The password never appears on a command line: it reaches the server
# through the client's standard input.
create_administrator() {
  admin_password=$(head -c 32 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 24)
  sql <<SQL
CREATE DATABASE IF NOT EXISTS ovixgeneral CHARACTER SET utf8mb4 COLLATE utf8mb4_bin;
CREATE TABLE IF NOT EXISTS ovixgeneral.ZedaUser (m_user VARCHAR(64), m_pwd VARCHAR(128));
DELETE FROM ovixgeneral.ZedaUser;
INSERT INTO ovixgeneral.ZedaUser VALUES ('system', '$admin_password');
SQL
  export OVIX_ADMIN_PASSWORD=$admin_password
}

create_embedded_store() {
  store="$work/store"
  mkdir -p "$store"
  sqlite3 "$store/ovixgeneral.sqlite" "CREATE TABLE ZedaUser (m_user TEXT, m_pwd TEXT);
    INSERT INTO ZedaUser VALUES ('system', '$admin_password');"
}

measure() {  # seconds and peak KiB of a command, its output discarded
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/stderr" || {
    cat "$work/stderr" >&2
    return 1
  }
  cat "$work/time"
}

# The fastest of the runs of each of two commands, run in turn after a
# warm-up of both; `prepare` (a shell text) runs untimed before each run.
alternate() {  # prepare command-a command-b
  local a_s="" b_s="" s kib i which
  for ((i = 0; i <= ${OVIX_BENCH_RUNS:-3}; i++)); do
    for which in a b; do
      eval "$1"
      sync
      if [ "$which" = a ]; then read -r s kib < <(measure bash -c "$2"); else read -r s kib < <(measure bash -c "$3"); fi
      [ "$i" -eq 0 ] && continue
      if [ "$which" = a ]; then
        if [ -z "$a_s" ] || [ "$(echo "$s < $a_s" | bc)" -eq 1 ]; then a_s=$s; fi
      elif [ -z "$b_s" ] || [ "$(echo "$s < $b_s" | bc)" -eq 1 ]; then
        b_s=$s
      fi
    done
  done
  echo "$a_s $b_s"
}
