#!/usr/bin/env bash
# Runs every libFuzzer harness tests/fuzz/<name>_fuzz.cpp in turn, each
# from its seeds (tests/fuzz/corpus/<name>_fuzz/, the regression cases
# included) and the corpus it grew before (build/fuzz/corpus/<name>_fuzz/,
# kept between runs), with its dictionary <name>_fuzz.dict and libFuzzer
# options <name>_fuzz.options when tests/fuzz has them. A failing input
# is saved as build/fuzz/crash-*; the harness given that file alone
# reproduces it.
#
#   scripts/fuzz.sh [MINUTES] [TARGET...]   MINUTES per target (default 10)
#
# TAV_FUZZ_TOTAL_SECONDS shares that many seconds among the targets
# instead (scripts/test.sh); TAV_FUZZ_RUNS runs each target for that many
# executions rather than for a time. Prints a line per target with its
# executions and ends with "fuzz: N passed, N failed".
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
MINUTES=${1:-10}
shift $(($# > 0 ? 1 : 0))
OUT=build/fuzz

if [ $# -gt 0 ]; then
  TARGETS=("$@")
else
  TARGETS=()
  for f in tests/fuzz/*_fuzz.cpp; do TARGETS+=("$(basename "$f" .cpp)"); done
fi

if ! { CC=clang-14 CXX=clang++-14 cmake -S . -B "$OUT" -G Ninja -DTAV_FUZZ=ON >/dev/null &&
       cmake --build "$OUT" -j "${TAV_JOBS:-$(nproc)}" --target "${TARGETS[@]}"; }; then
  echo "fuzz: 0 passed, ${#TARGETS[@]} failed (build)"
  exit 1
fi

if [ -n "${TAV_FUZZ_RUNS:-}" ]; then
  LIMIT=(-runs="$TAV_FUZZ_RUNS")
elif [ -n "${TAV_FUZZ_TOTAL_SECONDS:-}" ]; then
  LIMIT=(-max_total_time=$(( (TAV_FUZZ_TOTAL_SECONDS + ${#TARGETS[@]} - 1) / ${#TARGETS[@]} )))
else
  LIMIT=(-max_total_time=$((MINUTES * 60)))
fi

passed=0 failed=0
for t in "${TARGETS[@]}"; do
  corpus=$OUT/corpus/$t seeds=tests/fuzz/corpus/$t log=$OUT/$t.log
  mkdir -p "$corpus"
  args=(-print_final_stats=1 -timeout=10 -artifact_prefix="$OUT/" "${LIMIT[@]}")
  [ -f "tests/fuzz/$t.dict" ] && args+=(-dict="tests/fuzz/$t.dict")
  # shellcheck disable=SC2207  # options of the harness, one word each
  [ -f "tests/fuzz/$t.options" ] && args+=($(cat "tests/fuzz/$t.options"))
  start=$(date +%s)
  "$OUT/tests/fuzz/$t" "${args[@]}" "$corpus" $([ -d "$seeds" ] && echo "$seeds") >"$log" 2>&1
  rc=$?
  execs=$(awk '/^stat::number_of_executed_units/ {print $2}' "$log")
  result=ok
  if [ "$rc" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); result="FAILED (exit $rc, $log)"; fi
  echo "fuzz $t: ${execs:-unknown} executions in $(($(date +%s) - start)) s, corpus $(ls "$corpus" | wc -l): $result"
  [ "$rc" -eq 0 ] || grep -E 'invariant failed|ERROR:|SUMMARY:|Test unit written' "$log" | head -n 5
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
