#!/usr/bin/env bash
# Fails when a source file includes a header of a layer above its own, or of
# a sibling folder of its own layer.  The layers, lowest first:
#
#   0 platform   operating-system access, message services, paths, times
#   1 package    the package model and the server databases
#   2 app        start-up, run log, working files, INI and setup files
#   3 packing, server, update, project   (siblings: none includes another)
#   4 jobs       the dialogs' OK handlers and the check-update run
#   5 gui, cli, win32   the front ends (siblings)
#
# Tests (*_test.cc, and the *test_support.h headers they share) follow the rule of their folder and may also include the
# test helpers in src/testing, which may include any core folder but never a
# front end.
#   scripts/check-layers.sh [SRC_DIR]   (default: src)
set -euo pipefail
src=${1:-"$(cd "$(dirname "$0")/.." && pwd)/src"}

rank() {
  case $1 in
    platform) echo 0 ;;
    package) echo 1 ;;
    app) echo 2 ;;
    packing | server | update | project) echo 3 ;;
    jobs) echo 4 ;;
    gui | cli | win32) echo 5 ;;
    testing) echo T ;;
    *) echo "" ;;
  esac
}

bad=0
while IFS= read -r -d '' file; do
  from=$(basename "$(dirname "$file")")
  from_rank=$(rank "$from")
  [ -n "$from_rank" ] || continue
  is_test=0
  [[ $file == *_test.cc || $file == *test_support.h ]] && is_test=1
  while IFS=: read -r line target; do
    to=${target%%/*}
    to_rank=$(rank "$to")
    [ -n "$to_rank" ] || continue # a system or generated header
    [ "$to" = "$from" ] && continue
    ok=0
    if [ "$from_rank" = T ]; then
      [ "$to_rank" != 5 ] && ok=1
    elif [ "$to_rank" = T ]; then
      [ "$is_test" = 1 ] && ok=1
    elif [ "$to_rank" -lt "$from_rank" ]; then
      ok=1
    fi
    if [ "$ok" = 0 ]; then
      echo "${file#"$src"/}:$line: includes $target (layer $to) from layer $from"
      bad=1
    fi
  done < <(grep -n -o '^#include "[a-z_]*/[^"]*"' "$file" | sed 's/#include "\(.*\)"/\1/')
done < <(find "$src" -name '*.cc' -print0 -o -name '*.h' -print0)

if [ "$bad" = 1 ]; then
  echo "check-layers: includes that go up or sideways (see the layers at the top of $0)"
  exit 1
fi
echo "check-layers: every include goes down"
