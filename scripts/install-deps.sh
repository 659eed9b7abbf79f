#!/usr/bin/env bash
# Installs the Debian packages this project builds, tests and packages with.
# Safe to run again: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake pkg-config file dpkg-dev time bc
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libsqlite3-dev sqlite3
  libmariadb-dev mariadb-server mariadb-client
  libsimpleini-dev libcli11-dev
  zlib1g-dev uuid-dev libsodium-dev libssl-dev minisign
  libgtest-dev libgmock-dev
  fonts-wqy-microhei openssl
  help2man desktop-file-utils gcovr
  # the Windows build: MinGW-w64, Wine to run its tests, and what building
  # SQLite and libsodium from their sources needs
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 tcl autoconf automake libtool
  # the Windows dialogs' tests and pictures (a virtual display, screenshots)
  # and the Windows installer
  xvfb xauth imagemagick nsis
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
