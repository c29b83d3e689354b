#!/usr/bin/env bash
# Benchmarks of tavrolin.exe under Wine, printed as figures (not tests):
#   1. CPU use of an idle program over 10 s: with no port open, and with
#      a device page holding the port open while the reader is quiet
#      (utime + stime of the program's Wine process, and of the wineserver);
#   2. identification latency, from the simulated reader's reply to the
#      device page existing: median of 20 rounds with the communication
#      log window closed and 20 with it open, interleaved in one run.
# Builds what it needs in build/bench-win and build/bench-native and runs
# on a rig of its own (build/bench-rig, prefix build/bench-prefix).
# Settings: TAV_BENCH_SECONDS (default 10), TAV_BENCH_ROUNDS (default 20).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
SECONDS_IDLE=${TAV_BENCH_SECONDS:-10}
ROUNDS=${TAV_BENCH_ROUNDS:-20}
WIN=$ROOT/build/bench-win
NATIVE=$ROOT/build/bench-native
STATE=$ROOT/build/bench-rig

"$ROOT/scripts/install-deps.sh" >/dev/null

cmake -S . -B "$WIN" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$WIN" --target tavrolin drive_identify bench_identify >/dev/null
cmake -S . -B "$NATIVE" -G Ninja -DTAV_TESTS=OFF >/dev/null
cmake --build "$NATIVE" --target readersim >/dev/null

APP_PID=""
SIM_PID=""
cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null || true
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null || true
  TAV_WINEPREFIX=$ROOT/build/bench-prefix "$ROOT/scripts/rig.sh" down "$STATE" >/dev/null 2>&1 || true
}
trap cleanup EXIT

TAV_WINEPREFIX=$ROOT/build/bench-prefix TAV_HEADLESS=${TAV_HEADLESS:-1} \
  "$ROOT/scripts/rig.sh" up "$STATE" >"$STATE.log" 2>&1 </dev/null
# shellcheck disable=SC1091
source "$STATE/rig.env"

TICK=$(getconf CLK_TCK)

# utime + stime of a process, in clock ticks.
cpu_ticks() {
  sed 's/^.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'
}

# The Linux process of the program started in our prefix.
find_program() {
  local pid
  for pid in $(pgrep -f 'tavrolin\.exe'); do
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"; return 0
    fi
  done
  return 1
}

find_wineserver() {
  local pid
  for pid in $(pgrep wineserver); do
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"; return 0
    fi
  done
  return 1
}

# measure LABEL: CPU of the program and the wineserver over SECONDS_IDLE.
measure() {
  local app server a0 a1 s0 s1
  app=$(find_program) || { echo "program not running" >&2; return 1; }
  server=$(find_wineserver || echo "")
  a0=$(cpu_ticks "$app"); s0=$([ -n "$server" ] && cpu_ticks "$server" || echo 0)
  sleep "$SECONDS_IDLE"
  a1=$(cpu_ticks "$app"); s1=$([ -n "$server" ] && cpu_ticks "$server" || echo 0)
  awk -v l="$1" -v a=$((a1 - a0)) -v s=$((s1 - s0)) -v t="$TICK" -v d="$SECONDS_IDLE" 'BEGIN {
    printf "%-38s tavrolin.exe %6.3f s CPU (%5.2f %%), wineserver %6.3f s CPU over %d s\n",
           l, a / t, 100 * a / t / d, s / t, d }'
}

echo "== CPU use while idle"
wine "$WIN/app/tavrolin.exe" >/dev/null 2>&1 &
APP_PID=$!
sleep 3
measure "no port open:"

"$NATIVE/sim/readersim" --port "$TAV_SIM_TTY" --type 52 >"$STATE/readersim.log" 2>&1 &
SIM_PID=$!
sleep 0.5
wine "$WIN/tools/drive_identify.exe" --port "$TAV_APP_PORT" >"$STATE/drive.log" 2>&1 ||
  { echo "identification failed: $(cat "$STATE/drive.log")" >&2; exit 1; }
kill "$SIM_PID" 2>/dev/null || true; SIM_PID=""
sleep 2
measure "device page, port open, reader quiet:"
kill "$(find_program)" 2>/dev/null || true
kill "$APP_PID" 2>/dev/null || true; APP_PID=""
sleep 1

echo "== identification latency"
wine "$WIN/tools/bench_identify.exe" "$ROUNDS" 2>&1 | tail -n 5
