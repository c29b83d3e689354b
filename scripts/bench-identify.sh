#!/usr/bin/env bash
# Benchmarks of tavrolin.exe under Wine, printed as figures (not tests):
#   1. CPU use of an idle program over 10 s: with no port open, and with
#      a device page holding the port open while the reader is quiet
#      (utime + stime of the program's Wine process, and of the wineserver),
#      beside the same for a stand-in holding the port with two 1 ms
#      polling loops (tools/poll_standin.cpp), and the ratio of the two;
#   2. identification latency, from the simulated reader's reply to the
#      device page existing: median of 20 rounds with the communication
#      log window closed and 20 with it open, interleaved in one run with
#      20 rounds of its floor (tools/floor_page.cpp: a bare program that
#      reads the same reply and creates the same page template) and 20 of
#      the same program also closing the port, destroying the port
#      selection page and growing the window first, all timed by the same
#      watcher (tools/bench_identify.cpp), and the ratios.
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
cmake --build "$WIN" --target tavrolin drive_identify bench_identify floor_page poll_standin >/dev/null
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
# shellcheck source=scripts/wine-proc.sh
source "$ROOT/scripts/wine-proc.sh"
find_program() { find_wine_process 'tavrolin\.exe'; }

# measure LABEL [PROGRAM]: CPU of the program (tavrolin.exe) and the
# wineserver over SECONDS_IDLE; the program's share goes to LAST_PERCENT.
LAST_PERCENT=0
measure() {
  local app server a0 a1 s0 s1 name=${2:-tavrolin.exe}
  app=$(find_wine_process "${name//./\\.}") || { echo "$name not running" >&2; return 1; }
  server=$(find_wine_process wineserver || echo "")
  a0=$(cpu_ticks "$app"); s0=$([ -n "$server" ] && cpu_ticks "$server" || echo 0)
  local t threads0
  threads0=$(for t in /proc/"$app"/task/*; do echo "${t##*/} $(cpu_ticks "$app/task/${t##*/}")"; done)
  sleep "$SECONDS_IDLE"
  a1=$(cpu_ticks "$app"); s1=$([ -n "$server" ] && cpu_ticks "$server" || echo 0)
  # Per thread: Wine's own (its WaitCommEvent poller among them) apart from the program's.
  for t in /proc/"$app"/task/*; do
    awk -v id="${t##*/}" -v now="$(cpu_ticks "$app/task/${t##*/}")" -v name="$(cat "$t/comm")" -v tick="$TICK" \
      '$1 == id && now - $2 > 0 { printf "    thread %s (%s): %.3f s CPU\n", id, name, (now - $2) / tick }' <<<"$threads0"
  done
  awk -v l="$1" -v n="$name" -v a=$((a1 - a0)) -v s=$((s1 - s0)) -v t="$TICK" -v d="$SECONDS_IDLE" 'BEGIN {
    printf "%-38s %s %6.3f s CPU (%5.2f %%), wineserver %6.3f s CPU over %d s\n",
           l, n, a / t, 100 * a / t / d, s / t, d }'
  LAST_PERCENT=$(awk -v a=$((a1 - a0)) -v t="$TICK" -v d="$SECONDS_IDLE" 'BEGIN { printf "%.4f", 100 * a / t / d }')
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
program_percent=$LAST_PERCENT
kill "$(find_program)" 2>/dev/null || true
kill "$APP_PID" 2>/dev/null || true; APP_PID=""
sleep 1

wine "$WIN/tools/poll_standin.exe" "$TAV_APP_PORT" >/dev/null 2>&1 &
APP_PID=$!
sleep 3
measure "two 1 ms polling loops, port open:" poll_standin.exe
awk -v p="$program_percent" -v s="$LAST_PERCENT" 'BEGIN {
  printf "idle CPU, port open: tavrolin.exe %.2f %% of a core, polling stand-in %.2f %%: program / stand-in %.2f\n",
         p, s, (s > 0 ? p / s : 0) }'
kill "$(find_wine_process 'poll_standin\.exe')" 2>/dev/null || true
kill "$APP_PID" 2>/dev/null || true; APP_PID=""
sleep 1

echo "== identification latency"
wine "$WIN/tools/bench_identify.exe" "$ROUNDS" 2>&1 | tr -d '\r' | grep -v 'cannot be preloaded'
