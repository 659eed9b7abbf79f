#!/usr/bin/env bash
# The Windows program beside the Linux one on the same data:
#   1. `pack` of one tree gives the same records (keys, CRCs, bytes) from
#      ovixpatch.exe under Wine as from ovixpatch on Linux;
#   2. `ovixpatch.exe download` brings an older Windows-style installation up
#      to date from an embedded store and from the MariaDB server, the files
#      equal to the packed ones byte for byte, and a program that runs from
#      the installation while it is updated is replaced all the same.
#
#   end-to-end.sh LINUX_BUILD WINDOWS_BUILD
#
# The MariaDB server is the one whose settings scripts/mariadb-test-server.sh
# exported (OVIX_TEST_MARIADB_HOST/PORT, OVIX_MYSQL_CNF); its databases get a
# prefix of their own.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
linux=$1/ovixpatch
windows=("$here/scripts/windows/wine-run.sh" "$2/ovixpatch.exe")
work=$(mktemp -d)
trap '[ -n "${OVIX_E2E_KEEP:-}" ] || rm -rf "$work"' EXIT
export OVIX_DATABASE_PREFIX=e2e_
host=${OVIX_TEST_MARIADB_HOST:?the private MariaDB is not running}
port=${OVIX_TEST_MARIADB_PORT:?}
fail() {
  echo "end-to-end: $*" >&2
  exit 1
}

# An installation whose names are Chinese in part, with a file bigger than
# one stream piece.
make_tree() {  # dir buildtime seed
  mkdir -p "$1/bin/v80-win32/插件" "$1/lua/启动"
  printf '[OVIX]\r\nNAME=OVIX_TARNO\r\nVERSION=V3\r\nKERNELTIME=2026-01-01\r\nBUILDTIME=%s\r\n' "$2" \
    >"$1/ovixsetup.ini"
  python3 - "$1" "$3" <<'PY'
import random, sys
root, seed = sys.argv[1], int(sys.argv[2])
rng = random.Random(seed)
sizes = {"bin/v80-win32/OvixKernel.dll": 9 << 20, "bin/v80-win32/OvixDesign.exe": 300000,
         "bin/v80-win32/插件/管道.dll": 70000, "lua/启动/start.lua": 900, "lua/empty.lua": 0}
for path, size in sizes.items():
    with open(f"{root}/{path}", "wb") as f:
        f.write(rng.randbytes(size))
PY
}

records() {  # package: its records as text, in key order
  sqlite3 "$1" "SELECT m_skey, m_crc, length(m_stream), hex(sha3(m_stream))
                FROM OVIXFileRecord ORDER BY m_skey"
}

echo "== pack: the Windows program against the Linux one"
make_tree "$work/tree" 2026-12-01 1
mkdir -p "$work/linux-home" "$work/windows-home/temp"
"$linux" --home "$work/linux-home" --root "$work/linux-home" pack --path "$work/tree" --types "" \
  --user e2e >/dev/null
"${windows[@]}" --home "$work/windows-home" --root "$work/windows-home" pack --path "$work/tree" \
  --types "" --user e2e >/dev/null
linux_package=$(ls "$work"/linux-home/e2e/*.package)
windows_package=$(ls "$work"/windows-home/e2e/*.package)
[ "$(records "$linux_package" | wc -l)" -eq 6 ] || fail "the Linux package holds $(records "$linux_package" | wc -l) records, not 6"
cmp -s <(records "$linux_package") <(records "$windows_package") ||
  fail "the packages' records differ: $(diff <(records "$linux_package" | cut -c1-80) <(records "$windows_package" | cut -c1-80))"
echo "   records equal: $(records "$windows_package" | cut -d'|' -f1 | tr '\n' ' ')"

echo "== upload (Linux) to the embedded store and to MariaDB"
admin_password=$(head -c 24 /dev/urandom | base64 | tr -dc 'A-Za-z0-9')
export OVIX_ADMIN_PASSWORD=$admin_password
store=$work/store
mkdir -p "$store"
sqlite3 "$store/e2e_ovixgeneral.sqlite" "CREATE TABLE ZedaUser (m_user TEXT, m_pwd TEXT);
  INSERT INTO ZedaUser VALUES ('system', '$admin_password');"
mariadb --defaults-file="$OVIX_MYSQL_CNF" <<SQL
DROP DATABASE IF EXISTS e2e_ovixinstallpatch;
CREATE DATABASE IF NOT EXISTS e2e_ovixgeneral CHARACTER SET utf8mb4 COLLATE utf8mb4_bin;
CREATE TABLE IF NOT EXISTS e2e_ovixgeneral.ZedaUser (m_user VARCHAR(64), m_pwd VARCHAR(128));
DELETE FROM e2e_ovixgeneral.ZedaUser;
INSERT INTO e2e_ovixgeneral.ZedaUser VALUES ('system', '$admin_password');
SQL
mv "$linux_package" "$work/linux-home/"
for target in "file:$store --port 0" "$host --port $port"; do
  # shellcheck disable=SC2086  # the option's words are meant
  "$linux" --home "$work/linux-home" --root "$work/linux-home" upload --server $target >/dev/null ||
    fail "upload to $target failed"
done

echo "== download (Windows) into an older installation"
windows_cnf=$work/client-windows.cnf
bash "$here/scripts/windows/client-cnf.sh" "$OVIX_MYSQL_CNF" "$windows_cnf"
same_as_tree() {
  diff -r -q -x ovixsetup.ini -x patch -x temp -x '.ovixpatch*' "$work/tree" "$1" >/dev/null
}
for target in "file:$store --port 0" "$host --port $port"; do
  rm -rf "$work/station"
  make_tree "$work/station" 2020-01-01 2
  # The design program runs from the installation while it is updated.
  running=$work/station/bin/v80-win32/OvixDesign.exe
  cp /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/ping.exe "$running"
  "${windows[0]}" "$running" -n 60 127.0.0.1 >/dev/null 2>&1 &
  holder=$!
  sleep 2
  download() {
    # shellcheck disable=SC2086  # the option's words are meant
    OVIX_MYSQL_CNF=$windows_cnf "${windows[@]}" --home "$work/windows-home" \
      --root "$work/windows-home" download --install "$work/station" --server $target \
      >"$work/out" 2>&1
  }
  download || { cat "$work/out"; fail "download from $target failed"; }
  grep -q 'File in use moved aside:bin/v80-win32/OvixDesign.exe' \
    "$work/windows-home/temp/autoPatchLog.txt" || fail "the running program was not moved aside"
  kill "$holder" 2>/dev/null || true
  wait 2>/dev/null || true
  same_as_tree "$work/station" || fail "download from $target left: $(diff -r -q -x patch -x temp "$work/tree" "$work/station" | head -3)"
  grep -q '^PATCH=' "$work/station/ovixsetup.ini" || fail "no PATCH line after the download from $target"
  # The next run (which finds nothing newer) removes the program that was
  # moved aside, now that it has ended.
  download || grep -q '没有比之更新的补丁' "$work/out" || { cat "$work/out"; fail "second run"; }
  ! ls "$work"/station/patch/.in-use-* >/dev/null 2>&1 || fail "the program moved aside is still there"
  echo "   from $target: every file equal to the packed one; the running program was moved aside"
  echo "   and removed by the next run"
done
echo "end-to-end: the Windows program packs and applies as the Linux one does"
