#!/usr/bin/env bash
# Checks the Windows packages of a build tree (made by `cpack` there):
#   - the archive holds bin/v80-win32/ovixpatch.exe and OvixServerCommit.exe,
#     and the unpacked ovixpatch.exe tells the build's version;
#   - the installer, run silently under Wine into a fresh suite root, puts
#     both programs into <root>\bin\v80-win32\ and a Start-menu entry per job,
#     the installed ovixpatch.exe runs, and the uninstaller removes all of it.
#   check-packages.sh WINDOWS_BUILD
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
wine_run=$here/scripts/windows/wine-run.sh
export WINEPREFIX=${OVIX_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/ovix/wine}
version=$(sed -n 's/^project(ovixpatch VERSION \([0-9.]*\).*/\1/p' "$here/CMakeLists.txt")
fail() {
  echo "check-packages: $*" >&2
  exit 1
}
# The uninstaller goes on in a copy of itself after its first process
# returns: wait (up to a minute) until `path` is gone.  (Not through
# `wineserver -w`, which never returns while a persistent server runs.)
wait_until_gone() {
  local i
  for ((i = 0; i < 120; i++)); do
    [ -e "$1" ] || return 0
    sleep 0.5
  done
}

zip=$build/ovixpatch-$version-win64.zip
unzipped=$(mktemp -d)
trap 'rm -rf "$unzipped"' EXIT
(cd "$unzipped" && cmake -E tar xf "$zip")
for program in ovixpatch.exe OvixServerCommit.exe; do
  [ -f "$unzipped/bin/v80-win32/$program" ] || fail "no bin/v80-win32/$program in $zip"
done
[ "$("$wine_run" "$unzipped/bin/v80-win32/ovixpatch.exe" --version)" = "ovixpatch $version" ] ||
  fail "the archive's ovixpatch.exe does not tell version $version"
echo "   $(basename "$zip"): $(du -k "$zip" | cut -f1) KiB"

setup=$build/ovixpatch-$version-win64-setup.exe
root_name=OvixCheck$$
root=$WINEPREFIX/drive_c/$root_name
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Ovix 补丁工具 $version"
"$wine_run" "$setup" /S "/D=C:\\$root_name"  # returns once installed
for program in ovixpatch.exe OvixServerCommit.exe; do
  [ -f "$root/bin/v80-win32/$program" ] || fail "the installer put no bin\\v80-win32\\$program"
done
entries=$(ls "$menu" 2>/dev/null | grep -c '\.lnk$' || true)
[ "$entries" -eq 8 ] || fail "$entries Start-menu entries, not one per job and the uninstaller"
[ "$("$wine_run" "C:\\$root_name\\bin\\v80-win32\\ovixpatch.exe" --version)" = "ovixpatch $version" ] ||
  fail "the installed ovixpatch.exe does not run"
"$wine_run" "C:\\$root_name\\Uninstall.exe" /S
wait_until_gone "$root"
[ ! -e "$root" ] || fail "the uninstaller left $(find "$root" | head -3)"
[ ! -e "$menu" ] || fail "the uninstaller left the Start-menu folder"
echo "   $(basename "$setup"): $(du -k "$setup" | cut -f1) KiB, installs, runs and uninstalls cleanly"
