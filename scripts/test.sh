#!/usr/bin/env bash
# Installs what the project needs, builds it, and runs every test:
#   1. the full build (core, CLI, dialogs) with all unit, CLI and dialog tests;
#   2. the Debian package, checked for its files and filled-in dependencies.
# Dialog pictures land in build/pictures/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

bash scripts/install-deps.sh

echo "== build"
bash scripts/build.sh "$here/build" -DOVIX_WERROR=ON
echo "== tests"
(cd build && ctest --output-on-failure -j"$(nproc)")

echo "== package"
bash scripts/check-package.sh "$here/build"
