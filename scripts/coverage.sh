#!/usr/bin/env bash
# Builds the project with line counting, runs every test and prints the line
# coverage of the core (src/platform, package, app, packing, server, update,
# project and jobs, without the tests).  MariaDB tests count only when a test
# server is set up (see mariadb-test-server.sh); without one they are skipped.
#   scripts/coverage.sh [BUILD_DIR]      (default: build-coverage)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build-coverage"}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS=--coverage \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
find "$build" -name '*.gcda' -delete
(cd "$build" && ctest -j"$(nproc)" --output-on-failure >/dev/null) ||
  echo "coverage: some tests failed; the figure below counts what ran"
core='platform|package|app|packing|server|update|project|jobs'
gcovr --root "$here" --object-directory "$build" \
  --filter "$here/src/($core)/" --exclude '.*_test\.cc$' --gcov-exclude '.*CompilerId.*' \
  --gcov-ignore-parse-errors --print-summary --output "$build/coverage.txt" |
  grep -E '^(lines|functions):'
