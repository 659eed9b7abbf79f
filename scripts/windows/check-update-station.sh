# shellcheck shell=bash
# Sourced by the scripts that run `OvixServerCommit.exe -checkupdate` under
# Wine (scripts/windows/check-update-end-to-end.sh, dialog-pictures.sh):
#
#   make_check_update_station WORK WINDOWS_BUILD
#
# makes below WORK, with WINDOWS_BUILD's ovixpatch.exe in the Wine prefix
# that OVIX_WINEPREFIX names:
#   release/  a newer installation (OVIX_TARNO V3 built 2026-12-01): a
#             library, a Lua file, both under Chinese names, and as its
#             design program bin/v80-win32/OvixDesign.exe a copy of Wine's
#             clock.exe, which keeps running when started without arguments;
#   store/    an embedded store into which its package was uploaded;
#   station/  an older installation (built 2020-01-01) of the same product,
#             with bin/v80-win32/OvixServerCommit.exe, the kill list
#             patchkill.txt (OvixLogin.exe, which must be closed by hand,
#             zedads.exe and OvixDesign.exe), sys/MysqlIpPort.ini naming
#             store/, and as its design program a copy of Wine's ping.exe;
#   suite/    copies of ping.exe named as the suite's other programs:
#             OvixLogin.exe and zedads.exe.
# and sets `station_key` to the key of the package waiting in store/.

# A Unix path as Wine names it on drive Z:.
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

make_check_update_station() {
  local work=$1 build=$2
  local run wine_programs password
  run=$(dirname "${BASH_SOURCE[0]}")/wine-run.sh
  wine_programs=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  mkdir -p "$work/release/bin/v80-win32/插件" "$work/release/lua/启动" "$work/release-home" \
    "$work/store" "$work/station/bin/v80-win32/插件" "$work/station/sys" "$work/station/temp" \
    "$work/suite"
  printf '[OVIX]\r\nNAME=OVIX_TARNO\r\nVERSION=V3\r\nKERNELTIME=2026-01-01\r\nBUILDTIME=2026-12-01\r\n' \
    >"$work/release/ovixsetup.ini"
  head -c 300000 /dev/urandom >"$work/release/bin/v80-win32/插件/管道.dll"
  printf 'print("新版本")\r\n' >"$work/release/lua/启动/start.lua"
  cp "$wine_programs/clock.exe" "$work/release/bin/v80-win32/OvixDesign.exe"

  # Packed and uploaded by the Windows program; the administrator's
  # password is one of this run.
  password=$(head -c 18 /dev/urandom | base64 | tr -dc 'A-Za-z0-9')
  sqlite3 "$work/store/ovixgeneral.sqlite" "CREATE TABLE ZedaUser (m_user TEXT, m_pwd TEXT);
    INSERT INTO ZedaUser VALUES ('system', '$password');"
  local home
  home=$(windows_path "$work/release-home")
  "$run" "$build/ovixpatch.exe" --home "$home" --root "$home" pack \
    --path "$(windows_path "$work/release")" --types "" --user release >"$work/pack.out" 2>&1 ||
    { cat "$work/pack.out" >&2; return 1; }
  mv "$work"/release-home/release/*.package "$work/release-home/"
  OVIX_ADMIN_PASSWORD=$password "$run" "$build/ovixpatch.exe" --home "$home" --root "$home" \
    upload --server "file:$(windows_path "$work/store")" --port 0 >"$work/upload.out" 2>&1 ||
    { cat "$work/upload.out" >&2; return 1; }
  # shellcheck disable=SC2034  # for the caller
  station_key=$(sqlite3 "$work/store/ovixinstallpatch.sqlite" "SELECT m_skey FROM OVIXPackageInfo")

  printf '[OVIX]\r\nNAME=OVIX_TARNO\r\nVERSION=V3\r\nKERNELTIME=2020-01-01\r\nBUILDTIME=2020-01-01\r\n' \
    >"$work/station/ovixsetup.ini"
  printf 'old' >"$work/station/bin/v80-win32/插件/管道.dll"
  cp "$wine_programs/ping.exe" "$work/station/bin/v80-win32/OvixDesign.exe"
  cp "$build/OvixServerCommit.exe" "$work/station/bin/v80-win32/"
  printf '# 补丁前关闭的程序\r\nOvixLogin.exe\r\nzedads.exe\r\nOvixDesign.exe\r\n' \
    >"$work/station/bin/v80-win32/patchkill.txt"
  printf '[OvixPatch]\r\nIP=file:%s\r\nPORT=0\r\n' "$(windows_path "$work/store")" \
    >"$work/station/sys/MysqlIpPort.ini"
  cp "$wine_programs/ping.exe" "$work/suite/OvixLogin.exe"
  cp "$wine_programs/ping.exe" "$work/suite/zedads.exe"
}
