#!/usr/bin/env bash
# Installs what the project needs, builds it, and runs every test:
#   1. the full build (core, command line, dialogs) with all unit, command-line
#      and dialog tests, against the embedded store and a private MariaDB that
#      this script starts on 127.0.0.1 and stops on every exit path;
#   2. the core and its tests again under AddressSanitizer and
#      UndefinedBehaviorSanitizer;
#   3. the Debian package, checked for its files and filled-in dependencies.
# Dialog pictures land in build/pictures/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=$(nproc)

bash scripts/install-deps.sh

echo "== build"
bash scripts/build.sh "$here/build" -DOVIX_WERROR=ON

echo "== private MariaDB"
server_dir="$here/build/mariadb-test"
trap 'bash "$here/scripts/mariadb-test-server.sh" stop "$server_dir"' EXIT
eval "$(bash scripts/mariadb-test-server.sh start "$server_dir")"
export OVIX_REQUIRE_MARIADB=1

echo "== tests"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
bash scripts/build.sh "$here/build-sanitize" -DOVIX_SANITIZE=ON -DOVIX_BUILD_GUI=OFF -DOVIX_WERROR=ON
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j"$jobs")

echo "== package"
bash scripts/check-package.sh "$here/build"
