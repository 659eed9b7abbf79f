#!/usr/bin/env bash
# A private MariaDB server for tests, run by root or by a normal user.
#
#   mariadb-test-server.sh start DIR   (re)creates the server in DIR and prints
#                                      the export lines for `eval`
#   mariadb-test-server.sh stop DIR    stops it; never fails when it is down
#
# DIR holds data/, mysqld.sock, mysqld.pid, mysqld.err, tls/ and client.cnf
# (mode 600, group [client]: user, password, host, port of the account 'ovix'
# and the CA that signed the server's certificate).
# The server listens on 127.0.0.1 only, on a free port, and offers TLS with a
# certificate for 127.0.0.1 from a CA made for it, so that clients verifying
# the server certificate can connect.  Without openssl the server has no TLS
# and client.cnf turns the verification off.  The administrative
# account is reached through the socket by unix_socket authentication of the
# calling system user, so it has no password at all; the password of 'ovix'
# is generated afresh on every start and written only to client.cnf.
# Only the export lines go to stdout; everything else goes to stderr.
set -euo pipefail

usage() {
  echo "usage: $0 start|stop DIR" >&2
  exit 2
}

log() { echo "mariadb-test-server: $*" >&2; }

die() {
  log "$*"
  exit 1
}

[[ $# -eq 2 ]] || usage
action=$1
dir=$2
[[ -n $dir ]] || usage
if [[ $action == stop && ! -d $dir ]]; then
  exit 0
fi
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

datadir=$dir/data
socket=$dir/mysqld.sock
pidfile=$dir/mysqld.pid
errlog=$dir/mysqld.err
cnf=$dir/client.cnf
me=$(id -un)
port=""
tls=no

# The pid of the server of DIR when it runs, else nothing.
server_pid() {
  [[ -s $pidfile ]] || return 0
  local pid
  pid=$(tr -dc '0-9' <"$pidfile")
  [[ -n $pid ]] || return 0
  local comm
  comm=$(cat "/proc/$pid/comm" 2>/dev/null || true)
  if [[ $comm == mariadbd || $comm == mysqld ]]; then
    echo "$pid"
  fi
}

admin_sql() {
  mariadb --no-defaults --protocol=socket --socket="$socket" --user="$me"
}

stop_server() {
  local pid
  pid=$(server_pid)
  if [[ -z $pid ]]; then
    rm -f "$pidfile"
    return 0
  fi
  log "stopping the server (pid $pid)"
  if ! mariadb-admin --no-defaults --protocol=socket --socket="$socket" --user="$me" \
      shutdown >/dev/null 2>&1; then
    kill -TERM "$pid" 2>/dev/null || true
  fi
  local i
  for ((i = 0; i < 600; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    log "the server did not stop in 60 s; killing it"
    kill -KILL "$pid" 2>/dev/null || true
    sleep 0.5
  fi
  rm -f "$pidfile" "$socket"
}

free_port() {
  if command -v python3 >/dev/null 2>&1; then
    python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])' && return 0
  fi
  local port
  for ((port = 33100 + RANDOM % 2000; port < 65000; port += 7)); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

init_datadir() {
  rm -rf "$datadir"
  mkdir -p "$datadir" "$dir/tmp"
  local opts=(--no-defaults --datadir="$datadir" --skip-test-db
              --auth-root-authentication-method=socket
              --auth-root-socket-user="$me")
  [[ $(id -u) -eq 0 ]] && opts+=(--user="$me")
  log "initialising $datadir"
  mariadb-install-db "${opts[@]}" >>"$errlog" 2>&1 ||
    die "mariadb-install-db failed; see $errlog"
}

# Makes a CA and a server certificate for 127.0.0.1 in DIR/tls; false
# without openssl.
make_certificates() {
  command -v openssl >/dev/null 2>&1 || return 1
  local tlsdir=$dir/tls
  rm -rf "$tlsdir"
  mkdir -p "$tlsdir"
  (
    umask 077
    cd "$tlsdir"
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=ovix test CA" \
      -keyout ca-key.pem -out ca.pem
    openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" \
      -keyout server-key.pem -out server.csr
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n' >server.ext
    openssl x509 -req -days 30 -in server.csr -CA ca.pem -CAkey ca-key.pem \
      -CAcreateserial -extfile server.ext -out server-cert.pem
  ) >>"$errlog" 2>&1 || die "could not make the TLS certificates; see $errlog"
  chmod 644 "$tlsdir/ca.pem"
  return 0
}

# Starts the server on `port`; 0 when it answers, 1 when it died (the port
# may have been taken meanwhile), exits after 60 s without an answer.
launch() {
  local port=$1
  local opts=(--no-defaults --datadir="$datadir" --socket="$socket"
              --pid-file="$pidfile" --log-error="$errlog" --tmpdir="$dir/tmp"
              --bind-address=127.0.0.1 --port="$port" --skip-name-resolve
              --max-allowed-packet=1G --innodb-buffer-pool-size=128M
              --innodb-log-file-size=64M --skip-log-bin)
  [[ $(id -u) -eq 0 ]] && opts+=(--user="$me")
  if [[ $tls == yes ]]; then
    opts+=(--ssl-ca="$dir/tls/ca.pem" --ssl-cert="$dir/tls/server-cert.pem"
           --ssl-key="$dir/tls/server-key.pem")
  fi
  rm -f "$pidfile"
  setsid mariadbd "${opts[@]}" </dev/null >>"$errlog" 2>&1 &
  local pid=$! i
  for ((i = 0; i < 600; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then
      return 1
    fi
    if mariadb-admin --no-defaults --protocol=socket --socket="$socket" --user="$me" \
        --connect-timeout=2 ping >/dev/null 2>&1; then
      return 0
    fi
    sleep 0.1
  done
  kill -TERM "$pid" 2>/dev/null || true
  die "the server did not answer within 60 s; see $errlog"
}

create_account() {
  local password
  password=$(head -c 32 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 32)
  [[ ${#password} -ge 20 ]] || die "could not generate a password"
  # The password goes through stdin, never through a command line.
  admin_sql <<SQL || die "could not create the account 'ovix'"
CREATE USER 'ovix'@'127.0.0.1' IDENTIFIED BY '$password';
CREATE USER 'ovix'@'localhost' IDENTIFIED BY '$password';
GRANT ALL ON *.* TO 'ovix'@'127.0.0.1' WITH GRANT OPTION;
GRANT ALL ON *.* TO 'ovix'@'localhost' WITH GRANT OPTION;
SQL
  (
    umask 077
    rm -f "$cnf"
    printf '[client]\nuser=ovix\npassword=%s\nhost=127.0.0.1\nport=%s\n' \
      "$password" "$port" >"$cnf"
    if [[ $tls == yes ]]; then
      printf 'ssl-ca=%s\n' "$dir/tls/ca.pem" >>"$cnf"
    else
      printf 'ssl-verify-server-cert=0\n' >>"$cnf"
    fi
  )
  chmod 600 "$cnf"
}

start_server() {
  command -v mariadbd >/dev/null 2>&1 || PATH=$PATH:/usr/sbin:/usr/libexec
  command -v mariadbd >/dev/null 2>&1 || die "mariadbd not found (install mariadb-server)"
  stop_server
  rm -f "$cnf" "$socket"
  : >"$errlog"
  init_datadir
  tls=yes
  if ! make_certificates; then
    tls=no
    log "openssl not found: the server runs without TLS"
  fi
  local attempt
  for attempt in 1 2 3; do
    port=$(free_port) || die "no free TCP port found"
    log "starting mariadbd on 127.0.0.1:$port"
    if launch "$port"; then
      create_account
      log "ready; stop it with: $0 stop $dir"
      echo "export OVIX_MYSQL_CNF=$cnf"
      echo "export OVIX_TEST_MARIADB_HOST=127.0.0.1"
      echo "export OVIX_TEST_MARIADB_PORT=$port"
      return 0
    fi
    log "mariadbd exited (attempt $attempt)"
  done
  tail -n 20 "$errlog" >&2 || true
  die "mariadbd did not start; see $errlog"
}

case $action in
  start) start_server ;;
  stop) stop_server ;;
  *) usage ;;
esac
