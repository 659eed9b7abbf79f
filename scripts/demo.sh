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
mkdir -p "$demo/temp" "$demo/home" "$demo/install/bin/v80-win32" "$demo/install/lua"
printf '[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-01\nBUILDTIME=2026-12-01\n' \
  > "$demo/install/ovixsetup.ini"
head -c 300000 /dev/urandom > "$demo/install/bin/v80-win32/OvixKernel.dll"
echo 'print("hello")' > "$demo/install/lua/start.lua"
echo 'not packed: not one of the file types' > "$demo/install/readme.txt"

run() {
  echo "\$ ovixpatch $*"
  set +e
  "$here/build/ovixpatch" --root "$demo" --home "$demo/home" "$@"
  echo "  (exit status $?)"
  set -e
}
run --help
run pack --path "$demo/install" --user demo
package=$(ls "$demo"/home/demo/*.package)
echo
echo "== the package's records"
sqlite3 -header -column "$package" \
  "SELECT m_skey, m_crc, length(m_stream) AS bytes FROM OVIXFileRecord"
sqlite3 -header -column "$package" \
  "SELECT m_skey, m_name, m_ver, m_type, m_pack_time FROM OVIXPackageInfo"
echo
run checkupdate
echo
echo "== run log $demo/temp/autoPatchLog.txt"
cat "$demo/temp/autoPatchLog.txt"
