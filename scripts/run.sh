#!/usr/bin/env bash
# Runs tavrolin.exe against a simulated reader.
#
#   scripts/run.sh [--type N] [--scale PERCENT] [--no-drive] [--batch] [READERSIM OPTIONS...]
#
# Builds the program and the simulator, brings up the Wine rig (a virtual
# null-modem cable: the program's COM5 <-> the simulator's COM6), starts
# readersim on the simulator's end (--type N, default 52; every other
# option goes to readersim, e.g. --fault silent, --set deviceName=abc),
# and starts tavrolin.exe on your display, or under Xvfb when DISPLAY is
# unset (or TAV_HEADLESS=1). --scale 150 runs the rig at 150 % (144 DPI;
# 100 by default).
#
# Unless --no-drive is given it then identifies the reader itself (picks
# COM5, presses "打开串口", waits for the device page) and saves
# screenshots of the port selection page and of the device page in
# build/run/shots. Headless, it stops after that; on a display it leaves
# the program to you and cleans up when you close it.
#
# --batch puts a bench of six simulated readers on the cable instead, one
# after another (readersim --fleet, each acknowledging its write after
# 1.5 s), opens 批量配置 with a plan for them (build/run/batch/plan.csv)
# and presses 开始; the screenshot batch.png shows the run under way.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

TYPE=52
SCALE=100
DRIVE=1
BATCH=0
SIM_ARGS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --type) TYPE=$2; shift 2 ;;
    --scale) SCALE=$2; shift 2 ;;
    --no-drive) DRIVE=0; shift ;;
    --batch) BATCH=1; shift ;;
    -h|--help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) SIM_ARGS+=("$1"); shift ;;
  esac
done

HEADLESS=0
if [ -z "${DISPLAY:-}" ] || [ "${TAV_HEADLESS:-0}" = 1 ]; then HEADLESS=1; fi

WIN=$ROOT/build/run-win
NATIVE=$ROOT/build/run-native
RUN=$ROOT/build/run
STATE=$RUN/rig
SHOTS=$RUN/shots
export TAV_WINEPREFIX=${TAV_WINEPREFIX:-$ROOT/build/run-prefix}
mkdir -p "$RUN" "$SHOTS"

echo "run: installing what is missing"
"$ROOT/scripts/install-deps.sh" >"$RUN/install.log" 2>&1 ||
  { cat "$RUN/install.log" >&2; exit 1; }

echo "run: building (logs in $RUN)"
{
  cmake -S . -B "$WIN" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" &&
    cmake --build "$WIN" --target tavrolin drive_identify drive_batch &&
    cmake -S . -B "$NATIVE" -G Ninja -DTAV_TESTS=OFF &&
    cmake --build "$NATIVE" --target readersim
} >"$RUN/build.log" 2>&1 || { tail -n 30 "$RUN/build.log" >&2; exit 1; }

APP_PID=""
SIM_PID=""
cleanup() {
  set +e
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null
  # The program's own Wine process, if the launcher has already gone.
  local pid
  for pid in $(pgrep -f 'tavrolin\.exe'); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$TAV_WINEPREFIX" &&
      kill "$pid" 2>/dev/null
  done
  if [ "$HEADLESS" = 1 ]; then TAV_HEADLESS=1 "$ROOT/scripts/rig.sh" down "$STATE" >/dev/null 2>&1
  else "$ROOT/scripts/rig.sh" down "$STATE" >/dev/null 2>&1; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

case $SCALE in ''|*[!0-9]*) echo "run: --scale takes a percentage (100, 150, 200)" >&2; exit 2 ;; esac
export TAV_RIG_DPI=$((SCALE * 96 / 100))
echo "run: bringing up the rig at $SCALE % ($TAV_RIG_DPI DPI)"
if [ "$HEADLESS" = 1 ]; then
  TAV_HEADLESS=1 "$ROOT/scripts/rig.sh" up "$STATE" >"$RUN/rig.log" 2>&1 </dev/null
else
  "$ROOT/scripts/rig.sh" up "$STATE" >"$RUN/rig.log" 2>&1 </dev/null
fi || { cat "$RUN/rig.log" >&2; exit 1; }
# shellcheck disable=SC1091
source "$STATE/rig.env"

if [ "$BATCH" = 1 ]; then
  # The bench and its plan; a log of an earlier run would resume it.
  BENCH=$RUN/batch
  mkdir -p "$BENCH"
  rm -f "$BENCH"/plan.log.jsonl "$BENCH"/plan.log.undo.jsonl
  printf '%s\r\n' 'ipAddress,deviceName,platformIp,platformPort,gateway' \
    '10.0.7.21,门禁-东门,10.0.7.1,9000,10.0.7.1' '10.0.7.22,门禁-西门,10.0.7.1,9000,10.0.7.1' \
    '10.0.7.23,"门禁-北门, 二楼",10.0.7.1,9000,10.0.7.1' '10.0.7.24,门禁-南门,10.0.7.1,9000,10.0.7.1' \
    '10.0.7.25,门禁-车库,10.0.7.1,9000,10.0.7.1' '10.0.7.26,门禁-机房,10.0.7.1,9000,10.0.7.1' >"$BENCH/plan.csv"
  reader='{"type": 52, "fault": "late:1500", "faultOnWrite": true, "hangUp": false}'
  printf '[%s, %s, %s, %s, %s, %s]\n' "$reader" "$reader" "$reader" "$reader" "$reader" "$reader" >"$BENCH/fleet.json"
  SIM_ARGS=(--fleet "$BENCH/fleet.json" "${SIM_ARGS[@]}")
fi
echo "run: readersim --type $TYPE ${SIM_ARGS[*]} on $TAV_SIM_PORT (log: $RUN/readersim.log)"
"$NATIVE/sim/readersim" --port "$TAV_SIM_TTY" --type "$TYPE" "${SIM_ARGS[@]}" >"$RUN/readersim.log" 2>&1 &
SIM_PID=$!
sleep 0.3
kill -0 "$SIM_PID" 2>/dev/null || { cat "$RUN/readersim.log" >&2; exit 1; }

echo "run: starting tavrolin.exe on display $DISPLAY; its port is $TAV_APP_PORT"
wine "$WIN/app/tavrolin.exe" >"$RUN/tavrolin.log" 2>&1 &
APP_PID=$!

# shot NAME [TITLE]: the screen, or the window of that title.
shot() {
  sleep 0.5
  local name=$1 window=root
  [ "$SCALE" = 100 ] || name="$1-$SCALE"
  [ -n "${2:-}" ] && window=$(xwininfo -root -tree | awk -v title="\"$2\"" 'index($0, title) { print $1; exit }')
  import -window "${window:-root}" "$SHOTS/$name.png"
  echo "run: screenshot $SHOTS/$name.png"
}

if [ "$DRIVE" = 1 ]; then
  for _ in $(seq 100); do
    xwininfo -root -tree 2>/dev/null | grep -q '"Tavrolin V3.0"' && break
    sleep 0.1
  done
  if [ "$BATCH" = 1 ]; then
    if wine "$WIN/tools/drive_batch.exe" --port "$TAV_APP_PORT" --plan "Z:${BENCH//\//\\}\\plan.csv" \
        >"$RUN/drive.log" 2>&1; then
      echo "run: batch run under way: $(cat "$RUN/drive.log")"
    else
      echo "run: the batch run did not get under way: $(cat "$RUN/drive.log")"
    fi
    shot batch 批量配置
  else
    shot port-select
    if wine "$WIN/tools/drive_identify.exe" --port "$TAV_APP_PORT" >"$RUN/drive.log" 2>&1; then
      echo "run: identified: $(cat "$RUN/drive.log")"
    else
      echo "run: identification did not reach a device page: $(cat "$RUN/drive.log")"
    fi
    shot device-page
  fi
fi

if [ "$HEADLESS" = 1 ]; then
  echo "run: done (headless); screenshots in $SHOTS"
  exit 0
fi
echo "run: close the Tavrolin window to finish"
wait "$APP_PID" || true
APP_PID=""
