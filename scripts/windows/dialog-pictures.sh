#!/usr/bin/env bash
# Saves a picture of each dialog of OvixServerCommit.exe, as Wine shows it
# on a virtual display, under BUILD_DIR/pictures/windows/ (default BUILD_DIR:
# build-windows).  Needs the Debian packages xvfb, imagemagick, sqlite3 and
# fonts-wqy-microhei.
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
mkdir -p "$out" "$(dirname "$OVIX_WINEPREFIX")"
"$run" cmd /c exit 0 >/dev/null 2>&1 || true # makes the prefix on first use
key='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
for face in "MS Shell Dlg" "MS Shell Dlg 2"; do
  "$run" reg add "$key\\FontSubstitutes" /v "$face" /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
done
"$run" reg add "$key\\FontLink\\SystemLink" /v Tahoma /t REG_MULTI_SZ \
  /d "wqy-microhei.ttc,WenQuanYi Micro Hei" /f >/dev/null 2>&1
"$run" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
/usr/lib/wine/wineserver64 -w 2>/dev/null || true

# A working folder with two user folders and remembered servers, so that
# the dialogs show what a user would see.  The upload settings name an
# embedded store with three projects, so the project list is filled without
# any network; the download settings are only shown, never connected to.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
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
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  echo "$out/$2.png"
}

picture -pack pack_dialog
picture -project pack_dialog_config
picture -upload upload_dialog
picture -download download_dialog
picture -info project_info_dialog
