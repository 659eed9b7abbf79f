#!/usr/bin/env bash
# Packing speed and memory: `ovixpatch pack` beside `tar cf` + sync of the
# archive (a package is durable once the job reports success, so the archive
# must be on disk too) and `sqlite3 -A -c`, on the same trees in one run.
#   bench/pack_throughput.sh [big|small|huge ...]   (default: big small huge)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
bench_setup pack
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(big small huge)

# Each tool runs ${OVIX_BENCH_RUNS:-3} times with its output removed and the
# disk synced in between; the fastest run counts (the machine is shared, so
# the slower runs measure other work).
best() {  # cleanup-command (run between runs), then the command to measure
  local cleanup=$1
  shift
  local best_s="" best_kib="" s kib i
  # One untimed run first: the first write after the tree was made is slow
  # for whichever tool comes first, which would favour the tools after it.
  if [ "${OVIX_BENCH_WARMUP:-1}" = 1 ]; then
    measure "$@" >/dev/null
    eval "$cleanup"
    sync
  fi
  for ((i = 0; i < ${OVIX_BENCH_RUNS:-3}; i++)); do
    read -r s kib < <(measure "$@")
    if [ -z "$best_s" ] || [ "$(echo "$s < $best_s" | bc)" -eq 1 ]; then best_s=$s; fi
    if [ -z "$best_kib" ] || [ "$kib" -gt "$best_kib" ]; then best_kib=$kib; fi
    [ "$i" -eq $((${OVIX_BENCH_RUNS:-3} - 1)) ] && break  # the caller checks the last output
    eval "$cleanup"
    sync
  done
  echo "$best_s $best_kib"
}

row() {  # name seconds kib bytes
  local mbs
  mbs=$(echo "$4 / 1048576 / ($2 + 0.001)" | bc -l)
  printf '  %-22s %8.2f s %9.1f MB/s %9.1f MiB peak\n' "$1" "$2" "$mbs" "$(echo "$3/1024" | bc -l)"
}

for tree in "${trees[@]}"; do
  root="$work/tree-$tree"
  echo "== $tree tree: generating"
  rm -rf "$root"
  python3 "$here/bench/make_tree.py" "$tree" "$root"
  files=$(find "$root" -type f | wc -l)
  bytes=$(du -sb "$root" | cut -f1)
  echo "   $files files, $((bytes / 1048576)) MiB"
  # Every tool starts with the tree written back to disk and in the page
  # cache, so none pays for the generator's dirty pages or for cold reads.
  sync
  find "$root" -type f -exec cat {} + >/dev/null

  home="$work/home"
  rm -rf "$home" && mkdir -p "$home"
  read -r o_s o_kib < <(measure "$ovixpatch" --home "$home" --root "$home" pack \
                          --path "$root" --types "" --user bench)
  package=$(ls "$home"/bench/*.package)
  sync
  n=$(sqlite3 "$package" "select count(*) from OVIXFileRecord")
  [ "$n" -eq "$files" ] || { echo "package holds $n of $files files"; exit 1; }
  rm -f "$package"

  if [ -n "$baseline" ]; then
    # Alternating runs, the fastest of each counted: the shared disk varies
    # more from run to run than the two builds differ.
    o_s=""
    b_s=""
    for ((i = 0; i < ${OVIX_BENCH_RUNS:-3}; i++)); do
      for bin in "$ovixpatch" "$baseline"; do
        sync
        read -r s kib < <(measure "$bin" --home "$home" --root "$home" pack \
                            --path "$root" --types "" --user bench)
        rm -f "$home"/bench/*.package
        if [ "$bin" = "$baseline" ]; then
          if [ -z "$b_s" ] || [ "$(echo "$s < $b_s" | bc)" -eq 1 ]; then b_s=$s; b_kib=$kib; fi
        elif [ -z "$o_s" ] || [ "$(echo "$s < $o_s" | bc)" -eq 1 ]; then
          o_s=$s
          o_kib=$kib
        fi
      done
    done
    row "baseline pack" "$b_s" "$b_kib" "$bytes"
    printf '  this build / baseline: %.3f\n' "$(echo "$o_s / $b_s" | bc -l)"
  fi

  read -r t_s t_kib < <(measure bash -c "tar cf '$work/t.tar' -C '$root' . && sync '$work/t.tar'")
  rm -f "$work/t.tar"
  sync
  if [ "$tree" != huge ]; then
    read -r s_s s_kib < <(measure bash -c "cd '$root' && sqlite3 '$work/a.sqlar' -A -c . ")
    rm -f "$work/a.sqlar"
  fi

  row "ovixpatch pack" "$o_s" "$o_kib" "$bytes"
  row "tar cf + sync" "$t_s" "$t_kib" "$bytes"
  [ "$tree" = huge ] || row "sqlite3 -A -c" "$s_s" "$s_kib" "$bytes"
  printf '  ratio ovixpatch / (tar + sync): %.2f' "$(echo "$o_s / $t_s" | bc -l)"
  [ "$tree" = huge ] || printf ', ovixpatch / sqlite3 -A: %.2f' "$(echo "$o_s / $s_s" | bc -l)"
  printf ', peak memory %.1f MiB\n\n' "$(echo "$o_kib/1024" | bc -l)"
  rm -rf "$root"
done
