#!/bin/bash
# Wall time of `tavrolin-cli apply` to 1 and to 8 simulated readers at
# once (Linux, pseudo-terminals, no Wine). Eight readers are worked on in
# parallel, so the second figure should stay within 1.5x of the first.
# Then provisioning: in line mode (tools/bench_provision.cpp, the engine's
# own events), the time from a reader's first answer to "verified" against
# the wire time of that exchange's frames at 115200 baud, and from a reader
# leaving (hung up, or fallen silent) to the engine noticing; in port mode,
# a plan of 8 rows on 8 ports against 1 row on 1 port.
#   scripts/bench-cli.sh [BUILD_DIR]     (default build/cli-bench)
# Settings: TAV_BENCH_ROUNDS (default 5): the figures are medians.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build/cli-bench}
ROUNDS=${TAV_BENCH_ROUNDS:-5}

# What the build needs, installed when missing.
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
[ -e /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
[ -e /usr/include/CLI/CLI.hpp ] || need+=(libcli11-dev)
[ -d /usr/src/googletest ] || need+=(googletest)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=(); [ "$(id -u)" -eq 0 ] || SUDO=(sudo)
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${need[@]}"
fi

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAV_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target tavrolin-cli readersim bench_provision >/dev/null
CLI=$BUILD/cli/tavrolin-cli
SIM=$BUILD/sim/readersim

WORK=$(mktemp -d /tmp/tav-bench-XXXXXX)
SIMS=()
cleanup() {
  for p in "${SIMS[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# Readers r1-r8 answer at once; s1-s8 take 100 ms for each reply, about
# what a reader's firmware needs, so the waits dominate as on real lines.
for i in $(seq 1 8); do
  "$SIM" --pty "$WORK/r$i" --type 1 >/dev/null 2>&1 &
  SIMS+=($!)
  "$SIM" --pty "$WORK/s$i" --type 1 --fault late:100 >/dev/null 2>&1 &
  SIMS+=($!)
done
for i in $(seq 1 8); do
  for _ in $(seq 50); do [ -e "$WORK/r$i" ] && [ -e "$WORK/s$i" ] && break; sleep 0.05; done
done
"$CLI" export --port "$WORK/r1" -o "$WORK/doc.json" 2>/dev/null

# Milliseconds of one apply run on the given comma-separated ports.
run_ms() {
  local start end
  start=$(date +%s%N)
  "$CLI" apply --ports "$1" "$WORK/doc.json" --set deviceName=bench-$RANDOM >/dev/null ||
    { echo "bench: apply failed on $1" >&2; exit 1; }
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

# bench NAME PREFIX: prints the figures, returns the 8/1 ratio check.
bench() {
  local one=$WORK/${2}1 eight t1 t8 ratio
  eight=$(printf "$WORK/$2%s," $(seq 1 8)); eight=${eight%,}
  t1=$(for _ in $(seq "$ROUNDS"); do run_ms "$one"; done | median)
  t8=$(for _ in $(seq "$ROUNDS"); do run_ms "$eight"; done | median)
  ratio=$(awk -v a="$t8" -v b="$t1" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}')
  printf '%-34s 1 reader %5d ms   8 readers %5d ms   ratio %s\n' "$1" "$t1" "$t8" "$ratio"
  RATIO=$ratio
}

echo "apply (query, write, acknowledgement, query again), medians of $ROUNDS runs:"
bench "readers answering at once:" r
bench "readers answering after 100 ms:" s
echo "limit for 8 readers: 1.5x one reader (checked on the 100 ms readers)"
apply_ok=$(awk -v r="$RATIO" 'BEGIN {print (r <= 1.5)}')

# Line mode: readers one after another on one cable.
"$BUILD/tools/bench_provision" "$ROUNDS" || { echo "bench: line mode failed" >&2; exit 1; }

# Port mode: each round writes new addresses (a reader that holds its row
# already is not written again), to a log of its own.
port_ms() {
  local rows=$1 plan=$WORK/ports-$RANDOM.csv start end
  { echo "port,ipAddress"; for i in $(seq 1 "$rows"); do echo "$WORK/s$i,10.$((RANDOM % 250)).$i.$((RANDOM % 250 + 1))"; done; } >"$plan"
  start=$(date +%s%N)
  "$CLI" provision "$plan" --log "$plan.log.jsonl" >/dev/null 2>&1 || { echo "bench: provision failed" >&2; exit 1; }
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
p1=$(for _ in $(seq "$ROUNDS"); do port_ms 1; done | median)
p8=$(for _ in $(seq "$ROUNDS"); do port_ms 8; done | median)
printf 'port mode, readers answering after 100 ms:  1 row on 1 port %5d ms   8 rows on 8 ports %5d ms   ratio %s\n' \
  "$p1" "$p8" "$(awk -v a="$p8" -v b="$p1" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}')"
[ "$apply_ok" = 1 ]
