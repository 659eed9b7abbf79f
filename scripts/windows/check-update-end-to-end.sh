#!/usr/bin/env bash
# `OvixServerCommit.exe -checkupdate` end to end under Wine, on a virtual
# display, with the message boxes answered from outside as a user would
# (scripts/windows/window-driver.cc) and their texts and styles recorded:
#   1. a listed program that must be closed by hand is running: after the
#      question, its box stops the run; nothing is stopped or replaced;
#   2. the suite's design program and database program are running: they are
#      stopped, the waiting patch is applied (every file checked, the old
#      design program kept as backup), the log opens in Notepad, and the new
#      design program is started again;
#   3. the installation is up to date: no box, nothing started.
# Every box must be asked for topmost and without an owner window: Wine 8's
# MessageBoxW does not apply MB_TOPMOST to the box (its WS_EX_TOPMOST reads
# 0 there, on Windows 1), so the flags of each MessageBoxW call are read from
# Wine's relay trace.  Needs xvfb, sqlite3 and the MinGW-w64 compiler.
#   scripts/windows/check-update-end-to-end.sh [WINDOWS_BUILD]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build-windows}" && pwd)
[[ -x $build/OvixServerCommit.exe && -x $build/ovixpatch.exe ]] ||
  { echo "no OvixServerCommit.exe or ovixpatch.exe in $build" >&2; exit 1; }
if [[ -z ${OVIX_CHECK_UPDATE_DISPLAY:-} ]]; then
  exec env OVIX_CHECK_UPDATE_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build"
fi
unset OVIX_HOME OVIX_ROOT OVIX_DATABASE_PREFIX

# A Wine prefix of its own, whose desktop is on this virtual display.
export OVIX_WINEPREFIX=$build/check-update/wineprefix
run=$root/scripts/windows/wine-run.sh
mkdir -p "$build/check-update"
driver_exe=$build/check-update/window-driver.exe
if [[ ! $driver_exe -nt $root/scripts/windows/window-driver.cc ]]; then
  x86_64-w64-mingw32-g++-posix -std=c++20 -municode -static -O2 -o "$driver_exe" \
    "$root/scripts/windows/window-driver.cc"
fi
work=$(mktemp -d)
cleanup() {
  WINEPREFIX=$OVIX_WINEPREFIX /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  [[ -n ${OVIX_E2E_KEEP:-} ]] || rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "check-update end to end: $*" >&2
  exit 1
}
driver() { "$run" "$driver_exe" "$@"; }
# Wine traces the calls of MessageBoxW alone when asked to relay.
"$run" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d user32.MessageBoxW /f >/dev/null 2>&1

# shellcheck source-path=SCRIPTDIR source=check-update-station.sh
source "$root/scripts/windows/check-update-station.sh"
make_check_update_station "$work" "$build"
station=$work/station
bin=$station/bin/v80-win32
log=$station/temp/autoPatchLog.txt

# start NAME PROGRAM: starts a stand-in suite program that pings for ten
# minutes; prints its process id once it runs.
start() {
  "$run" "$2" -n 600 127.0.0.1 >/dev/null 2>&1 &
  for _ in $(seq 60); do
    driver running "$1" 2>/dev/null && return 0
    sleep 0.5
  done
  fail "$1 did not start"
}

# check_update ANSWERS: one run, its boxes answered so and recorded in
# $work/boxes ("topmost=0|1 TAB title TAB text TAB answer"), the MessageBoxW
# calls in $work/calls ("owner style", hexadecimal).
check_update() {
  WINEDEBUG=+relay driver run "$1" "$(windows_path "$bin/OvixServerCommit.exe")" -checkupdate \
    >"$work/boxes" 2>"$work/relay" || fail "the run did not end: $(cat "$work/relay")"
  sed -n 's/.*Call user32\.MessageBoxW(\([0-9a-f]*\),.*,\([0-9a-f]*\)) ret=.*/\1 \2/p' \
    "$work/relay" >"$work/calls"
}

# expect_boxes LINE...: the boxes of the last run, each "title|text|answer",
# every one asked for with MB_TOPMOST and without an owner, and topmost
# unless this Wine leaves the flag unapplied.
expect_boxes() {
  local expected="" line owner style
  for line in "$@"; do expected+="${line//|/	}"$'\n'; done
  [[ "$(cut -f2- "$work/boxes")"$'\n' == "$expected" || ( -z $expected && ! -s $work/boxes ) ]] ||
    fail "boxes: $(cat "$work/boxes"), not: $expected"
  [[ $(wc -l <"$work/calls") -eq $# ]] || fail "MessageBoxW calls: $(cat "$work/calls")"
  while read -r owner style; do
    (( 16#$owner == 0 && (16#$style & 0x40000) != 0 )) || fail "a box not topmost: $owner $style"
  done <"$work/calls"
  topmost=$(cut -f1 "$work/boxes" | sort -u | tr '\n' ' ')
}

question='补丁功能需要关闭OVIX相关进程(Ovix登陆程序/Ovix数据库程序/设计平台程序),是否继续执行？'
design_pid=$(start OvixDesign.exe "$bin/OvixDesign.exe")

echo "== a listed program that must be closed by hand stops the run"
login_pid=$(start OvixLogin.exe "$work/suite/OvixLogin.exe")
check_update yes
expect_boxes "OvixServerCommit|$question|yes" "OvixServerCommit|需要手动关闭所有OvixLogin.exe|ok"
echo "   the boxes' window style as Wine made it: $topmost"
grep -q 'exist process of name :OvixLogin.exe need manual close' "$log" || fail "log: $(cat "$log")"
[[ $(driver running OvixDesign.exe) == "$design_pid" ]] || fail "the design program was touched"
[[ $(driver running OvixLogin.exe) == "$login_pid" ]] || fail "the program to close by hand was touched"
[[ $(cat "$bin/插件/管道.dll") == old ]] || fail "a file was replaced"
driver end OvixLogin.exe
echo "   the question and the box naming OvixLogin.exe, both asked for topmost without an owner;"
echo "   nothing stopped or replaced"

echo "== the suite's programs are stopped, the patch applied, the design program started again"
start zedads.exe "$work/suite/zedads.exe" >/dev/null
check_update yes,yes
expect_boxes "OvixServerCommit|$question|yes" "OvixServerCommit|更新结束,是否查看日志？|yes"
for program in zedads.exe OvixDesign.exe; do
  grep -q "Prepare kill $program:" "$log" || fail "$program was not stopped: $(cat "$log")"
done
! driver running zedads.exe >/dev/null || fail "zedads.exe still runs"
(cd "$work/release" && find . -type f ! -name ovixsetup.ini) | while read -r file; do
  cmp -s "$work/release/$file" "$station/$file" || fail "$file differs from the packed one"
done
grep -q "^PATCH=$station_key" "$station/ovixsetup.ini" || fail "no PATCH=$station_key in ovixsetup.ini"
cmp -s "$station/patch/$station_key/bin/v80-win32/OvixDesign.exe" \
  /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/ping.exe || fail "no backup of the old design program"
driver wait autoPatchLog.txt 0 15000 >/dev/null || fail "the log is not open in Notepad"
driver end notepad.exe
new_pid=$(driver running OvixDesign.exe) || fail "the design program was not started again"
[[ $new_pid != "$design_pid" ]] || fail "the old design program still runs"
driver wait Clock 0 15000 >/dev/null || fail "the design program started is not the patched one"
grep -q 'Restart OvixDesign success' "$log" || fail "log: $(cat "$log")"
driver end OvixDesign.exe
! driver running OvixDesign.exe >/dev/null || fail "the design program could not be ended"
echo "   both programs stopped, every file as packed, the log in Notepad (ended),"
echo "   the patched design program running again (process $new_pid), then ended"

echo "== an installation that is up to date: no box, nothing started"
check_update ""
expect_boxes
grep -q 'First check pass and not excute the second check' "$log" || fail "log: $(cat "$log")"
! driver running OvixDesign.exe >/dev/null || fail "the design program was started"
echo "check-update end to end: the boxes, the stopped programs, the files and the restart as expected"
