#!/usr/bin/env bash
# Applying a patch: `ovixpatch download` into an installation that holds
# older copies of every file (so every file is backed up), from the private
# MariaDB and from the embedded store, beside two references on the same
# data in the same run:
#   - cp -r twice: the old files to a backup folder, the new files over them;
#   - ovix_bench_reader: the least a reader of the server can do, rows
#     streamed one at a time (mysql_use_result), the old file copied, the new
#     one written (no staging, no CRC, no rename).
# With a Windows build (OVIX_WINDOWS_BUILD_DIR, default build-windows, when
# it holds ovixpatch.exe) the same download by ovixpatch.exe under Wine is
# shown too, for information: Wine's file system costs are not ours.
#
#   bench/download_throughput.sh [big|small ...]   (default: big small)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
bench_setup download
reader="$build/ovix_bench_reader"
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(big small)

start_private_mariadb
create_administrator
create_embedded_store
windows_build=${OVIX_WINDOWS_BUILD_DIR:-$here/build-windows}
wine=()
if [ -x "$windows_build/ovixpatch.exe" ]; then
  wine=("$here/scripts/windows/wine-run.sh" "$windows_build/ovixpatch.exe")
  bash "$here/scripts/windows/client-cnf.sh" "$OVIX_MYSQL_CNF" "$work/client-windows.cnf"
fi

# A fresh older installation for every run (untimed), synced, then the
# command; the fastest of ${OVIX_BENCH_RUNS:-2} runs after a warm-up counts.
best() {  # command...
  local best_s="" best_kib="" s kib i
  for ((i = 0; i <= ${OVIX_BENCH_RUNS:-2}; i++)); do
    rm -rf "$work/inst" "$work/backup"
    cp -a "$work/older" "$work/inst"
    sync
    read -r s kib < <(measure "$@")
    [ "$i" -eq 0 ] && continue  # warm-up
    if [ -z "$best_s" ] || [ "$(echo "$s < $best_s" | bc)" -eq 1 ]; then best_s=$s; fi
    if [ -z "$best_kib" ] || [ "$kib" -gt "$best_kib" ]; then best_kib=$kib; fi
  done
  echo "$best_s $best_kib"
}

same_as_tree() {  # the installation now holds the tree's files
  diff -r -q -x ovixsetup.ini -x patch -x temp -x .ovixpatch.lock "$work/tree" "$work/inst" >/dev/null
}

row() {  # name seconds kib
  printf '  %-32s %8.2f s %9.1f MiB peak\n' "$1" "$2" "$(echo "$3/1024" | bc -l)"
}

for tree in "${trees[@]}"; do
  echo "== $tree tree: generating, packing, uploading"
  rm -rf "$work/tree" "$work/older" "$work/home"
  python3 "$here/bench/make_tree.py" "$tree" "$work/tree"
  python3 "$here/bench/make_tree.py" "$tree" "$work/older" 7  # same names, older bytes
  sed -i 's/^BUILDTIME=.*/BUILDTIME=2020-01-01/' "$work/older/ovixsetup.ini"
  rm "$work/tree/ovixsetup.ini"  # the patch leaves the setup file to the job
  cp "$work/older/ovixsetup.ini" "$work/tree/ovixsetup.ini"
  mkdir -p "$work/home"
  "$ovixpatch" --home "$work/home" --root "$work/home" pack --path "$work/tree" --types "" \
    --user bench >/dev/null 2>&1
  mv "$work"/home/bench/*.package "$work/home/"
  sql "DROP DATABASE IF EXISTS ovixinstallpatch"
  rm -f "$store/ovixinstallpatch.sqlite"
  "$ovixpatch" --home "$work/home" --root "$work/home" upload --server "$host" --port "$port" >/dev/null 2>&1
  "$ovixpatch" --home "$work/home" --root "$work/home" upload --server "file:$store" --port 0 >/dev/null 2>&1
  table=$(sql "SELECT m_ref_tblname FROM ovixinstallpatch.OVIXPackageInfo")
  files=$(find "$work/tree" -type f | wc -l)
  largest=$(find "$work/tree" -type f -printf '%s\n' | sort -n | tail -1)
  echo "   $files files, $(du -sm "$work/tree" | cut -f1) MiB, largest file $((largest / 1048576)) MiB"

  download=("$ovixpatch" --home "$work/home" --root "$work/home" download --install "$work/inst")
  read -r m_s m_kib < <(best "${download[@]}" --server "$host" --port "$port")
  same_as_tree || { echo "download from MariaDB left a different installation"; exit 1; }
  read -r e_s e_kib < <(best "${download[@]}" --server "file:$store" --port 0)
  same_as_tree || { echo "download from the embedded store left a different installation"; exit 1; }
  read -r r_s r_kib < <(best "$reader" "$host" "$port" ovixinstallpatch "$table" "$work/inst" "$work/backup")
  same_as_tree || { echo "the reference reader left a different installation"; exit 1; }
  read -r c_s c_kib < <(best bash -c "cp -r '$work/inst' '$work/backup' && cp -r '$work/tree/.' '$work/inst'")

  if [ -n "$baseline" ]; then
    # Alternating runs of the two builds on the same server, the fastest of
    # each counted: the shared disk varies more between runs than the two
    # builds differ.
    earlier=("$baseline" --home "$work/home" --root "$work/home" download --install "$work/inst")
    for target in "--server $host --port $port" "--server file:$store --port 0"; do
      # shellcheck disable=SC2086  # the two words of each option are meant
      read -r n_s b_s < <(alternate "rm -rf $work/inst $work/backup && cp -a $work/older $work/inst" \
                            "${download[*]} $target" "${earlier[*]} $target")
      row "this build ($target)" "$n_s" 0
      row "baseline ($target)" "$b_s" 0
      printf '  this build / baseline: %.3f\n' "$(echo "$n_s / $b_s" | bc -l)"
    done
  fi
  if [ ${#wine[@]} -gt 0 ]; then
    under_wine=(env OVIX_MYSQL_CNF="$work/client-windows.cnf" "${wine[@]}" --home "$work/home"
                --root "$work/home" download --install "$work/inst")
    read -r wm_s wm_kib < <(best "${under_wine[@]}" --server "$host" --port "$port")
    same_as_tree || { echo "ovixpatch.exe from MariaDB left a different installation"; exit 1; }
    read -r we_s we_kib < <(best "${under_wine[@]}" --server "file:$store" --port 0)
    same_as_tree || { echo "ovixpatch.exe from the embedded store left a different installation"; exit 1; }
  fi
  row "ovixpatch download (MariaDB)" "$m_s" "$m_kib"
  row "reference reader (MariaDB)" "$r_s" "$r_kib"
  row "ovixpatch download (embedded)" "$e_s" "$e_kib"
  row "cp -r twice" "$c_s" "$c_kib"
  if [ ${#wine[@]} -gt 0 ]; then
    # Peak memory here is Wine's own process, not the program's.
    row "ovixpatch.exe under Wine (MariaDB)" "$wm_s" 0
    row "ovixpatch.exe under Wine (embedded)" "$we_s" 0
    printf '  under Wine / Linux: %.2f (MariaDB), %.2f (embedded), for information\n' \
      "$(echo "$wm_s / $m_s" | bc -l)" "$(echo "$we_s / $e_s" | bc -l)"
  fi
  printf '  ratios: MariaDB %.2f of the reader, embedded %.2f of cp -r twice; ' \
    "$(echo "$m_s / $r_s" | bc -l)" "$(echo "$e_s / $c_s" | bc -l)"
  printf 'peak memory over the largest file: %.1f MiB (MariaDB), %.1f MiB (embedded)\n\n' \
    "$(echo "($m_kib * 1024 - $largest) / 1048576" | bc -l)" \
    "$(echo "($e_kib * 1024 - $largest) / 1048576" | bc -l)"
done
