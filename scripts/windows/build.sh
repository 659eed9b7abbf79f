#!/usr/bin/env bash
# Cross-builds the Windows programs and their test program.
#   scripts/windows/build.sh [BUILD_DIR] [extra cmake options...]
# The libraries come from scripts/windows/build-deps.sh (built once into
# $OVIX_WINDOWS_DEPS, default ~/.cache/ovix/windows-deps).
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-"$here/build-windows"}
shift || true
export OVIX_WINDOWS_DEPS=${OVIX_WINDOWS_DEPS:-${XDG_CACHE_HOME:-$HOME/.cache}/ovix/windows-deps}
bash "$here/scripts/windows/build-deps.sh" "$OVIX_WINDOWS_DEPS"
cmake -S "$here" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
  -DOVIX_WINDOWS_DEPS="$OVIX_WINDOWS_DEPS" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
