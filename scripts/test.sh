#!/usr/bin/env bash
# Installs what the project needs, builds it, and runs every test:
#   1. the full build (core, command line, dialogs) with all unit, command-line
#      and dialog tests, against the embedded store and a private MariaDB that
#      this script starts on 127.0.0.1 and stops on every exit path;
#   2. the core and its tests again under AddressSanitizer and
#      UndefinedBehaviorSanitizer;
#   3. the Debian package, checked for its files, manual pages, desktop
#      actions and filled-in dependencies, and a configuration with
#      -DBUILD_TESTING=OFF, checked to build the programs alone;
#   4. the package unpacked into a scratch root and used by a normal user, whose
#      packages and run log must land in ~/.local/share/ovix and
#      ~/.local/state/ovix since the installation is not theirs to write;
#   5. the Windows programs, cross-built with MinGW-w64: their tests under Wine
#      against the embedded store and the same private MariaDB, the
#      command-line tests run against ovixpatch.exe, the Windows program beside
#      the Linux one end to end, the check-update run of the dialog program end
#      to end with its message boxes answered, the archive, and the installer
#      installed, run and uninstalled under Wine.
# Dialog pictures land in build/pictures/ and build-windows/pictures/windows/.
# Each stage prints its seconds.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=$(nproc)
stage_name=""
stage_start=$SECONDS
stage() {  # prints the time of the stage that ends and the name of the next
  [ -z "$stage_name" ] || echo "   ($stage_name: $((SECONDS - stage_start)) s)"
  stage_name=$1
  stage_start=$SECONDS
  [ -z "$1" ] || echo "== $1"
}

stage "packages"
bash scripts/install-deps.sh

stage "layers and size"
bash scripts/check-layers.sh
# The tests are still above the third of the code they aim at; printed, not
# enforced, until they are down to it.
bash scripts/count-lines.sh || true

stage "build"
bash scripts/build.sh "$here/build" -DOVIX_WERROR=ON

stage "private MariaDB"
server_dir="$here/build/mariadb-test"
scratch=""
wine_prefix=""
cleanup() {
  bash "$here/scripts/mariadb-test-server.sh" stop "$server_dir"
  [ -z "$wine_prefix" ] || WINEPREFIX=$wine_prefix /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  if [ -n "$scratch" ]; then
    chmod -R u+w "$scratch"
    rm -rf "$scratch"
  fi
}
trap cleanup EXIT
eval "$(bash scripts/mariadb-test-server.sh start "$server_dir")"
export OVIX_REQUIRE_MARIADB=1

stage "tests"
(cd build && ctest --output-on-failure -j"$jobs")

stage "Windows: cross-build"
bash scripts/windows/build.sh "$here/build-windows" -DOVIX_WERROR=ON
windows_cnf=$server_dir/client-windows.cnf
bash scripts/windows/client-cnf.sh "$OVIX_MYSQL_CNF" "$windows_cnf"
wine_run=$here/scripts/windows/wine-run.sh
"$wine_run" "$here/build-windows/ovixpatch.exe" --version >/dev/null  # makes the Wine prefix
# One Wine server for all the Windows stages: no test starts while another's
# server shuts down.
wine_prefix=${OVIX_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/ovix/wine}
# (After the server of the start above has gone: -p refuses to take over.)
WINEPREFIX=$wine_prefix /usr/lib/wine/wineserver64 -w
WINEPREFIX=$wine_prefix /usr/lib/wine/wineserver64 -p

stage "Windows: tests under Wine"
# A test that fails is run once more: under load, Wine now and then fails to
# start a program (a fault of the test's start, not of the test); one that
# fails twice fails the stage.
(cd build-windows &&
   OVIX_MYSQL_CNF=$windows_cnf ctest --output-on-failure -j"$jobs" --repeat until-pass:2)

stage "Windows: command-line tests against ovixpatch.exe"
OVIX_MYSQL_CNF=$windows_cnf OVIX_TEST_OVIXPATCH="$wine_run $here/build-windows/ovixpatch.exe" \
  build/ovix_tests --gtest_filter='Ovixpatch*' --gtest_brief=1

stage "Windows: end to end beside the Linux program"
bash scripts/windows/end-to-end.sh "$here/build" "$here/build-windows"

stage "Windows: check-update end to end"
bash scripts/windows/check-update-end-to-end.sh "$here/build-windows"

stage "Windows: dialog pictures"
bash scripts/windows/dialog-pictures.sh "$here/build-windows"

stage "Windows: archive and installer"
(cd build-windows && cpack >/dev/null)
bash scripts/windows/check-packages.sh "$here/build-windows"

stage "tests under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/build.sh "$here/build-sanitize" -DOVIX_SANITIZE=ON -DOVIX_BUILD_GUI=OFF -DOVIX_WERROR=ON
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j"$jobs")

stage "package"
bash scripts/check-package.sh "$here/build"

stage "configuration without tests"
# Configured only: its targets are the programs and their pages, no test or
# benchmark program.
notest="$here/build-notest"
cmake -S "$here" -B "$notest" -DBUILD_TESTING=OFF >/dev/null
targets=$(cmake --build "$notest" --target help | sed -n 's/^\.\.\. //p')
for target in ovixpatch OvixServerCommit ovix_man_pages; do
  grep -qx "$target" <<<"$targets" || { echo "no target $target without tests"; exit 1; }
done
if grep -E '^ovix_bench_|^ovix_tests$|_test$' <<<"$targets"; then
  echo "test or benchmark programs are built with -DBUILD_TESTING=OFF"
  exit 1
fi

stage "the installed package used by a normal user"
# Unpacked as dpkg installs it, below a scratch root that the user may read but
# not write.  As root the run is made as the user ovixtest (created when
# missing); otherwise the unpacked tree is made read-only for this user.
scratch=$(mktemp -d)
chmod 755 "$scratch"
dpkg-deb -x "$(ls "$here"/build/ovixpatch_*.deb)" "$scratch/root"
ovixpatch=$scratch/root/usr/lib/ovix/bin/linux64/ovixpatch
if [ "$(id -u)" -eq 0 ]; then
  id -u ovixtest >/dev/null 2>&1 || useradd --create-home --shell /bin/sh ovixtest
  user_home=$(getent passwd ovixtest | cut -d: -f6)
  as_user=(runuser -u ovixtest --)
else
  user_home=$scratch/home
  mkdir "$user_home"
  chmod -R a-w "$scratch/root"
  as_user=()
fi
rm -rf "$user_home/.local/share/ovix" "$user_home/.local/state/ovix"
mkdir -p "$scratch/tree/bin"
printf '[OVIX]\nNAME=OVIX_MORBIX\nVERSION=V6\nKERNELTIME=2026-01-02\nBUILDTIME=2026-12-03\n' \
  >"$scratch/tree/ovixsetup.ini"
printf 'x' >"$scratch/tree/bin/a.dll"
chmod -R a+rX "$scratch/tree"
run_as_user() {
  "${as_user[@]}" env -u OVIX_HOME -u OVIX_ROOT -u XDG_DATA_HOME -u XDG_STATE_HOME \
    HOME="$user_home" "$ovixpatch" "$@"
}
version=$(run_as_user --version)
[ "$version" = "ovixpatch $(sed -n 's/^project(ovixpatch VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ] ||
  { echo "installed ovixpatch --version says: $version"; exit 1; }
grep -qF '~/.local/share/ovix' <<<"$(run_as_user --help)"
package=$(run_as_user pack --path "$scratch/tree" --user me 2>/dev/null)
[ "$package" = "$(ls "$user_home"/.local/share/ovix/me/me_*.package)" ] ||
  { echo "pack printed '$package'"; exit 1; }
grep -q '^Enter update app' "$user_home/.local/state/ovix/autoPatchLog.txt"
echo "installed package ok: packages in ~/.local/share/ovix, run log in ~/.local/state/ovix"
stage ""
