#!/usr/bin/env bash
# Soak of tavrolin.exe under Wine against the simulated reader:
#
#   scripts/soak.sh [CYCLES] [PAGE_TYPE] [one-type]   (defaults 200 and 1; one-type:
#   every reader of PAGE_TYPE, the page never replaced)
#
# tools/soak_window.cpp drives the program (what a cycle does, its faults
# and the tolerances are described there); this script builds it, brings
# up a rig unless one is in the environment already (rig.env sourced, as
# in scripts/test.sh), and answers the driver's requests for the Linux
# side's figures of the program (threads, descriptors, RssAnon). Exits
# non-zero when a cycle failed or a figure grew beyond its tolerance.
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
CYCLES=${1:-200}
PAGE_TYPE=${2:-1}
ONE_TYPE=${3:-}
WIN=$ROOT/build/win
# shellcheck source=scripts/wine-proc.sh
source "$ROOT/scripts/wine-proc.sh"

if [ ! -x "$WIN/tools/soak_window.exe" ] || [ -z "${TAV_APP_PORT:-}" ]; then
  "$ROOT/scripts/install-deps.sh" >/dev/null || exit 1
  cmake -S . -B "$WIN" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" >/dev/null &&
    cmake --build "$WIN" -j "${TAV_JOBS:-$(nproc)}" --target tavrolin soak_window >/dev/null || exit 1
fi

OWN_RIG=""
WATCHER=""
SYNC=$(mktemp -d "$ROOT/build/soak-sync.XXXXXX")
cleanup() {
  [ -n "$WATCHER" ] && kill "$WATCHER" 2>/dev/null
  rm -rf "$SYNC"
  [ -n "$OWN_RIG" ] && "$ROOT/scripts/rig.sh" down "$OWN_RIG" >/dev/null 2>&1
}
trap cleanup EXIT
if [ -z "${TAV_APP_PORT:-}" ]; then
  OWN_RIG=$ROOT/build/soak-rig
  "$ROOT/scripts/rig.sh" up "$OWN_RIG" >"$OWN_RIG.log" 2>&1 </dev/null || { cat "$OWN_RIG.log"; exit 1; }
  # shellcheck disable=SC1091
  source "$OWN_RIG/rig.env"
fi

# The driver writes SYNC/cycle-N when it samples; the answer is cycle-N.done.
watch_requests() {
  local request pid
  while sleep 0.05; do
    for request in "$SYNC"/cycle-*; do
      case $request in *.done|*.tmp|*'*') continue ;; esac
      [ -e "$request.done" ] && continue
      pid=$(find_wine_process 'tavrolin\.exe') || continue
      proc_figures "$pid" >"$request.tmp" && mv "$request.tmp" "$request.done"
    done
  done
}
watch_requests &
WATCHER=$!

export TAV_SOAK_SYNC="Z:${SYNC//\//\\}"
start=$(date +%s)
wine "$WIN/tools/soak_window.exe" "$CYCLES" "$PAGE_TYPE" $ONE_TYPE </dev/null 2>&1 | sed -u -e "s/\r$//" -e "/cannot be preloaded/d"
rc=${PIPESTATUS[0]}
echo "soak wall time: $(($(date +%s) - start)) s"
exit "$rc"
