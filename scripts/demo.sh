#!/usr/bin/env bash
# Installs what the project needs, builds it, and runs two roads under
# build/demo on the embedded store: a software patch (pack an installation,
# upload the package, download it into an older workstation) and a project
# patch (name a project, pack its configuration, apply it on the server).
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

# The embedded store plays the version server: each server database is a
# SQLite file in one folder.  The suite's general database names the
# administrator "system".
store="$demo/store"
mkdir -p "$store"
password="demo-$(head -c 6 /dev/urandom | od -An -tx1 | tr -d ' \n')"
sqlite3 "$store/ovixgeneral.sqlite" \
  "CREATE TABLE ZedaUser (m_user TEXT, m_pwd TEXT); INSERT INTO ZedaUser VALUES ('system', '$password');"
mv "$package" "$demo/home/"
# Runs an administrator's command (upload, upproject) on the store, with the
# password on standard input, never on the command line.
as_admin() {
  echo "\$ ovixpatch $1 --server file:$store --port 0 --password-stdin   (password on stdin)"
  set +e
  printf '%s\n' "$password" | "$here/build/ovixpatch" --root "$demo" --home "$demo/home" \
    "$1" --server "file:$store" --port 0 --password-stdin
  echo "  (exit status $?)"
  set -e
}
as_admin upload
echo
echo "== the patch store $store/ovixinstallpatch.sqlite"
sqlite3 -header -column "$store/ovixinstallpatch.sqlite" \
  "SELECT m_skey, m_name, m_ver, m_type FROM OVIXPackageInfo"
table=$(sqlite3 "$store/ovixinstallpatch.sqlite" "SELECT m_ref_tblname FROM OVIXPackageInfo")
sqlite3 -header -column "$store/ovixinstallpatch.sqlite" \
  "SELECT m_skey, m_crc, m_version, m_guid, length(m_stream) AS bytes FROM \"$table\""

# A workstation with an older copy of the installation downloads the patch.
station="$demo/workstation"
mkdir -p "$station/bin/v80-win32" "$station/lua"
printf '[OVIX]\nNAME=OVIX_TARNO\nVERSION=V3\nKERNELTIME=2026-01-01\nBUILDTIME=2020-01-01\n' \
  > "$station/ovixsetup.ini"
echo "old kernel" > "$station/bin/v80-win32/OvixKernel.dll"
echo
run download --install "$station" --server "file:$store" --port 0
echo
echo "== the workstation after the download"
for f in bin/v80-win32/OvixKernel.dll lua/start.lua; do
  if cmp -s "$demo/install/$f" "$station/$f"; then echo "  $f: equal to the packed file"; else echo "  $f: DIFFERS"; fi
done
echo "  ovixsetup.ini PATCH=$(sed -n 's/^PATCH=//p' "$station/ovixsetup.ini")"
echo "  backups: $(cd "$station/patch" && find . -type f | sed 's|^\./||' | tr '\n' ' ')"


# The project road.  The general database lists the server's projects; each
# project has a database of its own.
echo
echo "== project patch"
sqlite3 "$store/ovixgeneral.sqlite" \
  "CREATE TABLE ZedaProject (m_projId TEXT, m_projGuid TEXT, m_lineTemp TEXT);
   INSERT INTO ZedaProject VALUES ('PLANT1', '{6A1F0C2E-1B7D-4C55-9E0A-3D2B8F4A7C11}', NULL);
   INSERT INTO ZedaProject VALUES ('PLANT2', '{0B3C9D8E-2F4A-4B6C-8D1E-5A7F9C0B2E33}', NULL);"
sqlite3 "$store/PLANT1.sqlite" "CREATE TABLE dbnamemap (dbkey TEXT);"
sqlite3 "$store/PLANT2.sqlite" "CREATE TABLE dbnamemap (dbkey TEXT);"
run info --server "file:$store" --port 0 --list
run info --server "file:$store" --port 0 --project PLANT1
echo "  $(tr '\r\n' '  ' < "$demo/home/PLANT1.ini")"
config="$demo/plant1-config"
mkdir -p "$config"
echo '<pipe-class name="A1" rating="150"/>' > "$config/pipeclass.xml"
echo 'DN50,60.3' > "$config/sizes.csv"
run project --path "$config" --user demo --name OVIX_TARNO --version V3 --info "$demo/home/PLANT1.ini"
mv "$demo"/home/demo/*.package "$demo/home/"
as_admin upproject
echo "== PLANT1 on the server, and the projects' marks"
sqlite3 -header -column "$store/PLANT1.sqlite" \
  "SELECT m_skey, m_version, length(m_stream) AS bytes FROM ZedaConfigServer"
sqlite3 -header -column "$store/ovixgeneral.sqlite" "SELECT m_projId, m_lineTemp FROM ZedaProject"
echo "== the same package again"
as_admin upproject

echo
echo "== run log $demo/temp/autoPatchLog.txt"
cat "$demo/temp/autoPatchLog.txt"
