#!/usr/bin/env bash
# Upload speed: `ovixpatch upload` of a package beside two plain loaders of
# the same rows into the same private MariaDB server, in one run:
#   - ovix_bench_loader prepared: one prepared INSERT per row, blobs streamed
#     with mysql_stmt_send_long_data, one transaction;
#   - ovix_bench_loader loaddata: the rows written to a tab-separated file
#     and loaded with LOAD DATA LOCAL INFILE, one transaction.
#
#   bench/upload_throughput.sh [big|small|scale|project ...]   (default: small big)
#
# big      600 MB in 2,000 files (two of 60 MB)
# small    50,000 files of 1 KB
# scale    packages of 5,000, 10,000, 25,000 and 50,000 files of 1 KB, uploaded
#          by ovixpatch only, with the seconds per 1,000 files
# project  a project package of 50,000 files of 1 KB applied by
#          `ovixpatch upproject` to one project (GUID and mark checks, the
#          project lock, the mark written), beside the loaders filling the
#          same rows into a project table
#
# The server is a private one in a temporary folder, stopped on exit.  The
# password of the package administrator "system" is generated here, stored
# through the client's standard input and given to ovixpatch only through
# OVIX_ADMIN_PASSWORD; every client logs in with the option file
# OVIX_MYSQL_CNF written by scripts/mariadb-test-server.sh.
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "$0")/lib.sh"
bench_setup upload
loader="$build/ovix_bench_loader"
modes=("$@")
[ ${#modes[@]} -gt 0 ] || modes=(small big)

start_private_mariadb
create_administrator
# LOAD DATA LOCAL needs the server's consent.
[ "$(sql 'SELECT @@GLOBAL.local_infile')" = 1 ] || sql 'SET GLOBAL local_infile = 1'

# Each tool runs ${OVIX_BENCH_RUNS:-2} times after one untimed warm-up run;
# the fastest run counts (the machine is shared, so the slower runs measure
# other work).  `reset` runs before every run, untimed (it empties the
# server), and `check` after every run (it verifies what arrived).
best() {  # reset-command check-command command...
  local reset=$1 check=$2
  shift 2
  local best_s="" best_kib="" result s kib i
  if [ "${OVIX_BENCH_WARMUP:-1}" = 1 ]; then
    eval "$reset"
    sync
    measure "$@" >/dev/null
    eval "$check"
  fi
  for ((i = 0; i < ${OVIX_BENCH_RUNS:-2}; i++)); do
    eval "$reset"
    sync
    result=$(measure "$@")
    read -r s kib <<<"$result"
    eval "$check"
    if [ -z "$best_s" ] || [ "$(echo "$s < $best_s" | bc)" -eq 1 ]; then best_s=$s; fi
    if [ -z "$best_kib" ] || [ "$kib" -gt "$best_kib" ]; then best_kib=$kib; fi
  done
  echo "$best_s $best_kib"
}

row() {  # name seconds kib bytes files
  local mbs fps
  mbs=$(echo "$4 / 1048576 / ($2 + 0.001)" | bc -l)
  fps=$(echo "$5 / ($2 + 0.001)" | bc -l)
  printf '  %-24s %8.2f s %9.1f MB/s %9.0f files/s %8.1f MiB peak\n' \
    "$1" "$2" "$mbs" "$fps" "$(echo "$3/1024" | bc -l)"
}

# The two reference loaders on the package's rows into `table` of scratch
# databases: "prepared-s prepared-kib loaddata-s loaddata-kib".
run_loaders() {  # package table files
  local result p l
  result=$(best "sql 'DROP DATABASE IF EXISTS bench_prepared'" \
                "check_rows bench_prepared '$2' $3" \
                "$loader" prepared "$1" "$host" "$port" bench_prepared "$2")
  p=$result
  sql 'DROP DATABASE IF EXISTS bench_prepared'
  result=$(best "sql 'DROP DATABASE IF EXISTS bench_loaddata'" \
                "check_rows bench_loaddata '$2' $3" \
                "$loader" loaddata "$1" "$host" "$port" bench_loaddata "$2" "$work")
  l=$result
  sql 'DROP DATABASE IF EXISTS bench_loaddata'
  echo "$p $l"
}

# The three tools' rows and the ratio of ours to the faster loader.
report() {  # name bytes files ours-s ours-kib prepared-s prepared-kib loaddata-s loaddata-kib
  row "$1" "$4" "$5" "$2" "$3"
  row "prepared INSERT per row" "$6" "$7" "$2" "$3"
  row "LOAD DATA LOCAL INFILE" "$8" "$9" "$2" "$3"
  local faster=$6 name="prepared INSERT"
  if [ "$(echo "$8 < $6" | bc)" -eq 1 ]; then faster=$8 name="LOAD DATA"; fi
  printf '  ratio ovixpatch / faster reference (%s): %.2f\n\n' "$name" \
    "$(echo "$4 / ($faster + 0.001)" | bc -l)"
}

check_rows() {  # database table expected
  local n
  n=$(sql "SELECT COUNT(*) FROM \`$1\`.\`$2\`" 2>/dev/null || echo missing)
  if [ "$n" != "$3" ]; then
    echo "$1.$2 holds $n rows, the package $3" >&2
    return 1
  fi
}

# Generates tree KIND into DIR, primed in the page cache.
make_tree() {  # kind dir
  rm -rf "$2"
  python3 "$here/bench/make_tree.py" "$1" "$2"
  sync
  find "$2" -type f -exec cat {} + >/dev/null
}

# Packs DIR once into a home of its own and prints the package's path; the
# package lies directly in that home, where `upload` looks for it.
pack_tree() {  # dir home
  rm -rf "$2" && mkdir -p "$2"
  "$ovixpatch" --home "$2" --root "$2" pack --path "$1" --types "" --user bench \
    >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; return 1; }
  local package
  package=$(ls "$2"/bench/*.package)
  mv "$package" "$2/"
  rm -rf "$2/bench"
  sync
  echo "$2/$(basename "$package")"
}

upload_cmd=()
set_upload() {  # home
  upload_cmd=("$ovixpatch" --home "$1" --root "$1" upload --server "$host" --port "$port")
}

compare() {  # kind
  local kind=$1 root="$work/tree-$1" home="$work/home-$1"
  echo "== $kind tree: generating and packing"
  make_tree "$kind" "$root"
  local package files bytes table expected
  expected=$(find "$root" -type f | wc -l)
  package=$(pack_tree "$root" "$home")
  files=$(sqlite3 "$package" "select count(*) from OVIXFileRecord")
  [ "$files" -eq "$expected" ] || { echo "package holds $files of $expected files" >&2; exit 1; }
  bytes=$(sqlite3 "$package" "select coalesce(sum(length(m_stream)), 0) from OVIXFileRecord")
  table=$(sqlite3 "$package" "select m_ref_tblname from OVIXPackageInfo")
  rm -rf "$root"
  echo "   $files files, $((bytes / 1048576)) MiB, server table $table"

  set_upload "$home"
  local result o_s o_kib
  result=$(best "sql 'DROP DATABASE IF EXISTS ovixinstallpatch'" \
                "check_rows ovixinstallpatch '$table' $files" "${upload_cmd[@]}")
  read -r o_s o_kib <<<"$result"
  sql 'DROP DATABASE IF EXISTS ovixinstallpatch'
  report "ovixpatch upload" "$bytes" "$files" "$o_s" "$o_kib" \
    $(run_loaders "$package" "$table" "$files")
  rm -rf "$home"
}

scale() {
  local all="$work/tree-small"
  echo "== scale: packages of 1 KB files, ovixpatch upload only"
  make_tree small "$all"
  # The last column is the cost of the files added since the previous
  # package: flat when the upload grows linearly.
  printf '  %8s %10s %14s %22s\n' files seconds "s/1000 files" "s/1000 added files"
  local n prev_n=0 prev_s=0
  for n in 5000 10000 25000 50000; do
    local root="$work/tree-$n" home="$work/home-$n" package files table result s kib
    # The first n files of the small tree, linked, with its setup file.
    python3 - "$all" "$root" "$n" <<'PY'
import os, sys
src, dst, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
for i in range(n):
    rel = os.path.join("d%03d" % (i % 100), "f%05d.xml" % i)
    os.makedirs(os.path.join(dst, os.path.dirname(rel)), exist_ok=True)
    os.link(os.path.join(src, rel), os.path.join(dst, rel))
os.link(os.path.join(src, "ovixsetup.ini"), os.path.join(dst, "ovixsetup.ini"))
PY
    local expected
    expected=$(find "$root" -type f | wc -l)  # the n files and the setup file
    package=$(pack_tree "$root" "$home")
    files=$(sqlite3 "$package" "select count(*) from OVIXFileRecord")
    table=$(sqlite3 "$package" "select m_ref_tblname from OVIXPackageInfo")
    [ "$files" -eq "$expected" ] || { echo "package holds $files of $expected files" >&2; exit 1; }
    rm -rf "$root"
    set_upload "$home"
    result=$(best "sql 'DROP DATABASE IF EXISTS ovixinstallpatch'" \
                  "check_rows ovixinstallpatch '$table' $files" "${upload_cmd[@]}")
    read -r s kib <<<"$result"
    sql 'DROP DATABASE IF EXISTS ovixinstallpatch'
    printf '  %8d %10.2f %14.3f %22.3f\n' "$n" "$s" "$(echo "$s * 1000 / $n" | bc -l)" \
      "$(echo "($s - $prev_s) * 1000 / ($n - $prev_n)" | bc -l)"
    prev_n=$n prev_s=$s
    rm -rf "$home"
  done
  rm -rf "$all"
  echo
}

project() {
  local root="$work/tree-project" home="$work/home-project"
  local guid="{7D2E4F10-5A3B-4C6D-8E9F-0A1B2C3D4E5F}"
  echo "== project patch: generating and packing 50,000 files of 1 KB"
  sql <<SQL
CREATE TABLE IF NOT EXISTS ovixgeneral.ZedaProject (m_projId VARCHAR(64), m_projGuid VARCHAR(64),
                                                    m_lineTemp VARCHAR(64));
DELETE FROM ovixgeneral.ZedaProject;
INSERT INTO ovixgeneral.ZedaProject VALUES ('benchproj', '$guid', NULL);
SQL
  make_tree small "$root"
  rm -rf "$home" && mkdir -p "$home"
  printf '[PatchProject]\nGUID=%s\nNAME=benchproj\n' "$guid" >"$home/benchproj.ini"
  "$ovixpatch" --home "$home" --root "$home" project --path "$root" --types "" --user bench \
    --name OVIX_TARNO --version V3 --info "$home/benchproj.ini" >/dev/null 2>"$work/stderr" ||
    { cat "$work/stderr" >&2; return 1; }
  local package files bytes
  package=$(ls "$home"/bench/*.package)
  mv "$package" "$home/" && rm -rf "$home/bench" "$root"
  package="$home/$(basename "$package")"
  files=$(sqlite3 "$package" "select count(*) from OVIXFileRecord")
  bytes=$(sqlite3 "$package" "select coalesce(sum(length(m_stream)), 0) from OVIXFileRecord")
  sync
  echo "   $files files, $((bytes / 1048576)) MiB"

  local fresh="DROP DATABASE IF EXISTS benchproj; CREATE DATABASE benchproj CHARACTER SET utf8mb4 COLLATE utf8mb4_bin; UPDATE ovixgeneral.ZedaProject SET m_lineTemp = NULL"
  local result o_s o_kib
  result=$(best "sql '$fresh'" "check_rows benchproj ZedaConfigServer $files" \
                "$ovixpatch" --home "$home" --root "$home" upproject --server "$host" --port "$port")
  read -r o_s o_kib <<<"$result"
  sql 'DROP DATABASE IF EXISTS benchproj'
  report "ovixpatch upproject" "$bytes" "$files" "$o_s" "$o_kib" \
    $(run_loaders "$package" ZedaConfigServer "$files")
  rm -rf "$home"
}

for mode in "${modes[@]}"; do
  case $mode in
    big | small) compare "$mode" ;;
    scale) scale ;;
    project) project ;;
    *) echo "unknown mode $mode (big, small, scale or project)" >&2; exit 2 ;;
  esac
done
