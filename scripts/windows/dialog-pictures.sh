#!/usr/bin/env bash
# Saves a picture of each dialog of OvixServerCommit.exe, as Wine shows it
# on a virtual display, under BUILD_DIR/pictures/windows/ (default BUILD_DIR:
# build-windows).  Needs the Debian packages xvfb, imagemagick, sqlite3,
# fonts-wqy-microhei and the MinGW-w64 compiler.
#
# The dialogs that a job opens on the way (the version dialog, the progress
# of packing, the log viewer) are reached as a user reaches them: a small
# driver (window-driver.cc) types into the fields and presses the buttons.
#
# The pictures use a Wine prefix of their own, in which the dialog font
# ("MS Shell Dlg") is WenQuanYi Micro Hei, as a Chinese Windows gives it a
# font with Chinese glyphs, and Wine draws the window frames itself, since
# the virtual display has no window manager.
#   scripts/windows/dialog-pictures.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build-windows}" && pwd)
program=$build/OvixServerCommit.exe
out=$build/pictures/windows
[[ -x $program ]] || { echo "no $program: build the target OvixServerCommit first" >&2; exit 1; }

if [[ -z ${OVIX_PICTURES_DISPLAY:-} ]]; then
  # Again inside a virtual display of its own.
  exec env OVIX_PICTURES_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build"
fi

export OVIX_WINEPREFIX=$build/pictures/wineprefix
run=$root/scripts/windows/wine-run.sh
wineserver() { WINEPREFIX=$OVIX_WINEPREFIX /usr/lib/wine/wineserver64 "$@"; }
mkdir -p "$out" "$(dirname "$OVIX_WINEPREFIX")"
"$run" cmd /c exit 0 >/dev/null 2>&1 || true # makes the prefix on first use
key='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
for face in "MS Shell Dlg" "MS Shell Dlg 2"; do
  "$run" reg add "$key\\FontSubstitutes" /v "$face" /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
done
"$run" reg add "$key\\FontLink\\SystemLink" /v Tahoma /t REG_MULTI_SZ \
  /d "wqy-microhei.ttc,WenQuanYi Micro Hei" /f >/dev/null 2>&1
"$run" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
wineserver -w 2>/dev/null || true

# A working folder with two user folders and remembered servers, so that
# the dialogs show what a user would see.  The upload settings name an
# embedded store with three projects, so the project list is filled without
# any network; the download settings are only shown, never connected to.
home=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$home"' EXIT
mkdir -p "$home/发布" "$home/张工" "$home/server"
sqlite3 "$home/server/ovixgeneral.sqlite" \
  "CREATE TABLE ZedaProject (m_projId TEXT, m_projGuid TEXT, m_lineTemp TEXT);
   INSERT INTO ZedaProject VALUES ('南京化工','{G1}',''), ('北京炼化','{G2}',''), ('Alpha','{G3}','');"
windows() { printf 'Z:%s' "${1//\//\\}"; }
printf '[MySqlServer]\r\nIP=file:%s\r\nPORT=0\r\n' "$(windows "$home/server")" \
  >"$home/OvixServerCommit_upload.ini"
printf '[MySqlServer]\r\nIP=127.0.0.1\r\nPORT=3306\r\nPATH=C:\\OVIX\r\n' \
  >"$home/OvixServerCommit_download.ini"
export OVIX_HOME=$(windows "$home")

# picture SWITCH NAME: runs the program with SWITCH until its dialog has
# been drawn, then saves the screen cut to the dialog as NAME.png.
picture() {
  "$run" "$program" "$1" >/dev/null 2>&1 &
  local pid=$!
  sleep "${OVIX_PICTURES_WAIT:-6}"
  import -window root "$out/$2.full.png"
  convert "$out/$2.full.png" -trim +repage "$out/$2.png"
  rm -f "$out/$2.full.png"
  kill "$pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo "$out/$2.png"
}

picture -pack pack_dialog
picture -project pack_dialog_config
picture -upload upload_dialog
picture -download download_dialog
picture -info project_info_dialog

driver_exe=$build/pictures/window-driver.exe
if [[ ! $driver_exe -nt $root/scripts/windows/window-driver.cc ]]; then
  x86_64-w64-mingw32-g++-posix -std=c++20 -municode -static -O2 -o "$driver_exe" \
    "$root/scripts/windows/window-driver.cc"
fi
driver() { "$run" "$driver_exe" "$@"; }

# shot NAME WINDOW: saves the part of the screen that WINDOW covers ("HWND
# LEFT TOP WIDTH HEIGHT", as the driver's wait prints it) as NAME.png, once
# it is drawn: when two looks half a second apart differ in no more than a
# blinking caret's pixels.
shot() {
  local left top width height changed
  read -r _ left top width height <<<"$2"
  rm -f "$out/$1.png"
  for _ in $(seq 20); do
    sleep 0.5
    import -window root "$out/$1.full.png"
    convert "$out/$1.full.png" -crop "${width}x${height}+${left}+${top}" +repage "$out/$1.new.png"
    changed=$(compare -metric AE "$out/$1.new.png" "$out/$1.png" null: 2>&1 || true)
    mv "$out/$1.new.png" "$out/$1.png"
    [[ $changed =~ ^[0-9]+$ ]] && ((changed < 40)) && break
  done
  rm -f "$out/$1.full.png"
  echo "$out/$1.png"
}
stop_program() {
  kill "$1" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# A project packed from the pack dialog: the version dialog as it opens, and
# the progress dialog, held still as it was drawn (the driver waiting for it
# before the packing starts).  The project's files take a while to pack.
mkdir -p "$home/项目/图纸"
for i in $(seq 400); do head -c 500000 /dev/urandom >"$home/项目/图纸/$i.dwg"; done
"$run" "$program" -project >/dev/null 2>&1 &
pid=$!
pack=$(driver wait OVIX打包 1010)
driver type "${pack%% *}" 1010 "$(windows "$home/项目")"
driver press "${pack%% *}" 1
version=$(driver wait OVIX打包 1011)
shot version_dialog "$version"
driver press "${version%% *}" 1 # no date: a project patch needs none
picker=$(driver wait 请选择特定项目配置文件 2)
driver wait OvixServerCommit 302 60000 freeze >"$home/progress" &
waiting=$!
sleep 2 # the driver is looking
driver press "${picker%% *}" 2 # no project information file
wait "$waiting"
shot progress_dialog "$(cat "$home/progress")"
stop_program "$pid"

# The log viewer: the check-update run of an installation with a patch
# waiting, whose "view the log?" is answered yes where Notepad cannot start
# (a notepad.exe that is no program beside OvixServerCommit.exe), so the
# program shows the log itself.
# shellcheck source-path=SCRIPTDIR source=check-update-station.sh
source "$root/scripts/windows/check-update-station.sh"
# Wine under load now and then loses a start; a second run, on a station of
# its own, is made then, as the Windows tests are given one more run.
for attempt in 1 2; do
  make_check_update_station "$home/check-update-$attempt" "$build"
  station=$home/check-update-$attempt/station
  echo "no program" >"$station/bin/v80-win32/notepad.exe"
  driver run yes,yes "$(windows "$station/bin/v80-win32/OvixServerCommit.exe")" -checkupdate \
    >/dev/null 2>&1 &
  pid=$!
  if viewer=$(driver wait 日志记录 218 60000); then break; fi
  stop_program "$pid"
  [ "$attempt" = 1 ] || exit 1
  echo "dialog-pictures: no log viewer on the first run; once more"
done
shot log_viewer "$viewer"
driver press "${viewer%% *}" 1
stop_program "$pid"
