#!/usr/bin/env bash
# Installs what the project needs, builds it, and runs the tool on a scratch
# installation under build/demo: start-up, the switch table and the run log.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

bash scripts/install-deps.sh
bash scripts/build.sh "$here/build"

demo="$here/build/demo"
rm -rf "$demo"
mkdir -p "$demo/temp" "$demo/home" "$demo/install"
printf '[OVIX]\nNAME=Ovix\nVERSION=V8\nKERNELTIME=2026-01-01\nBUILDTIME=2026-12-01\n' \
  > "$demo/install/ovixsetup.ini"

run() {
  echo "\$ ovixpatch $*"
  set +e
  "$here/build/ovixpatch" --root "$demo" --home "$demo/home" "$@"
  echo "  (exit status $?)"
  set -e
}
run --help
run pack --path "$demo/install" --user demo
run checkupdate
echo
echo "== run log $demo/temp/autoPatchLog.txt"
cat "$demo/temp/autoPatchLog.txt"
