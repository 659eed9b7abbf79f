#!/usr/bin/env bash
# Peak memory of moving one large file into a package record and back out,
# beside the sqlite3 shell doing the same with readfile()/writefile().
#   bench/record_memory.sh [SIZE_MB]   (default 300)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
size_mb=${1:-300}
bench_setup record
tool="$build/ovix_bench_record"

echo "generating ${size_mb} MB of incompressible data"
head -c "$((size_mb * 1024 * 1024))" /dev/urandom > "$work/big.bin"
want=$(cksum < "$work/big.bin")

read -r ovix_w_s ovix_w_kib < <(measure "$tool" write "$work/ovix.package" "$work/big.bin")
read -r ovix_r_s ovix_r_kib < <(measure "$tool" read "$work/ovix.package" "$work/ovix.out")
[ "$(cksum < "$work/ovix.out")" = "$want" ] || { echo "ovixpatch read back different bytes"; exit 1; }

read -r ref_w_s ref_w_kib < <(measure sqlite3 "$work/ref.db" \
  "CREATE TABLE t(k TEXT PRIMARY KEY, b BLOB); INSERT INTO t VALUES('big.bin', readfile('$work/big.bin'));")
read -r ref_r_s ref_r_kib < <(measure sqlite3 "$work/ref.db" \
  "SELECT writefile('$work/ref.out', b) FROM t WHERE k='big.bin';")
[ "$(cksum < "$work/ref.out")" = "$want" ] || { echo "sqlite3 read back different bytes"; exit 1; }

file_kib=$((size_mb * 1024))
printf '\n%-28s %10s %12s %14s\n' "step (${size_mb} MB record)" "seconds" "peak MiB" "peak/file"
row() { printf '%-28s %10s %12.1f %14.3f\n' "$1" "$2" "$(echo "$3/1024" | bc -l)" "$(echo "$3/$file_kib" | bc -l)"; }
row "ovixpatch write" "$ovix_w_s" "$ovix_w_kib"
row "sqlite3 readfile()" "$ref_w_s" "$ref_w_kib"
row "ovixpatch read" "$ovix_r_s" "$ovix_r_kib"
row "sqlite3 writefile()" "$ref_r_s" "$ref_r_kib"
printf '\npeak memory ratio ovixpatch/sqlite3: write %.3f, read %.3f\n' \
  "$(echo "$ovix_w_kib/$ref_w_kib" | bc -l)" "$(echo "$ovix_r_kib/$ref_r_kib" | bc -l)"
