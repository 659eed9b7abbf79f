#!/usr/bin/env bash
# What signing costs, this tool against itself on the same data in one run:
#   - `ovixpatch pack --sign KEY` beside `ovixpatch pack` (the reference);
#   - `ovixpatch download` of that signed package into an installation that
#     trusts the key (signature checked, every file hashed while it streams)
#     beside one that trusts none (the reference), from the private MariaDB
#     and from the embedded store.
# Runs alternate and the fastest of ${OVIX_BENCH_RUNS:-3} of each counts.
# The key is made with minisign -G -W: an encrypted key adds its password's
# key derivation once per pack, whatever the tree.
#
#   bench/signing_cost.sh [big|small ...]   (default: big)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
bench_setup signing
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(big)

start_private_mariadb
create_administrator
create_embedded_store
minisign -G -W -p "$work/supplier.pub" -s "$work/supplier.key" >/dev/null

report() {  # what signed-seconds plain-seconds
  printf '  %-34s signed %8.2f s, plain %8.2f s, signed / plain %.3f\n' "$1" "$2" "$3" \
    "$(echo "$2 / $3" | bc -l)"
}

for tree in "${trees[@]}"; do
  echo "== $tree tree: generating"
  rm -rf "$work/tree" "$work/older" "$work/home"
  python3 "$here/bench/make_tree.py" "$tree" "$work/tree"
  python3 "$here/bench/make_tree.py" "$tree" "$work/older" 7  # same names, older bytes
  sed -i 's/^BUILDTIME=.*/BUILDTIME=2020-01-01/' "$work/older/ovixsetup.ini"
  cp "$work/older/ovixsetup.ini" "$work/tree/ovixsetup.ini"
  echo "   $(find "$work/tree" -type f | wc -l) files, $(du -sm "$work/tree" | cut -f1) MiB"
  sync
  find "$work/tree" -type f -exec cat {} + >/dev/null
  mkdir -p "$work/home"

  tool="$ovixpatch --home $work/home --root $work/home"
  pack="$tool pack --path $work/tree --types '' --user bench"
  read -r s_s p_s < <(alternate "rm -f $work/home/bench/*.package" \
                        "$pack --sign $work/supplier.key" "$pack")
  report "pack" "$s_s" "$p_s"

  eval "$pack --sign $work/supplier.key" >/dev/null
  mv "$work"/home/bench/*.package "$work/home/"
  "$ovixpatch" verify "$work"/home/*.package --key "$work/supplier.pub" >/dev/null
  sql "DROP DATABASE IF EXISTS ovixinstallpatch"
  rm -f "$store/ovixinstallpatch.sqlite"
  $tool upload --server "$host" --port "$port" >/dev/null 2>&1
  $tool upload --server "file:$store" --port 0 >/dev/null 2>&1

  fresh="rm -rf $work/inst && cp -a $work/older $work/inst"
  trust="mkdir -p $work/inst/sys/trusted-keys && cp $work/supplier.pub $work/inst/sys/trusted-keys/"
  for target in "--server $host --port $port" "--server file:$store --port 0"; do
    download="$tool download --install $work/inst $target"
    read -r s_s p_s < <(alternate "$fresh" "$trust && $download" "$download")
    diff -r -q -x ovixsetup.ini -x patch -x temp -x sys -x .ovixpatch.lock "$work/tree" "$work/inst" \
      >/dev/null || { echo "the download left a different installation"; exit 1; }
    report "download ($target)" "$s_s" "$p_s"
  done
  # The signed runs did check: a trusting installation's run says so.
  eval "$fresh" && eval "$trust" && mkdir -p "$work/home/temp"
  $tool download --install "$work/inst" --server "file:$store" --port 0 >/dev/null
  grep -q "用1个受信任的公钥校验" "$work/home/temp/autoPatchLog.txt" ||
    { echo "the trusting installation did not check the signature"; exit 1; }
  echo
done
