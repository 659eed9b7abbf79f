#!/usr/bin/env bash
# Runs a Windows program under Wine without a display and without Wine's
# own chatter: one prefix (OVIX_WINEPREFIX, made on first use), no Mono or
# Gecko installers, exit status of the program passed through.
set -euo pipefail
export WINEPREFIX=${OVIX_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/ovix/wine}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  # Tests start in parallel; the first one makes the prefix, the others wait.
  mkdir -p "$(dirname "$WINEPREFIX")"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver64 -w 2>/dev/null || true
  fi
  exec 9>&-
fi
exec /usr/lib/wine/wine64 "$@"
