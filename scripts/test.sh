#!/bin/bash
# Builds and tests everything, from a fresh Debian machine on:
#   1. native build with ASan+UBSan + ctest      (build/asan)
#   2. libFuzzer runs of every harness           (build/fuzz, scripts/fuzz.sh)
#   3. Windows cross build + ctest through Wine  (build/win), a 20-cycle
#      soak of the window program (scripts/soak.sh) and a check of the
#      release archive made from that build
#   4. with --i386 only: the 32-bit Windows build of the unit tests and
#      the identification of every type end to end through Wine
#      (build/win32); its packages (i386 Wine, the i686 compiler) would
#      take the everyday suite past 15 minutes on a fresh machine. On a
#      host that cannot run 32-bit programs the build is made and the run
#      reported as not possible here (no 32-bit Wine is installed there).
# Every step runs even when an earlier one failed. The last line is
# "N passed, N failed": ctest results summed over the runs, plus one per
# fuzz harness and one for the soak, plus one failure per build that did
# not complete.
# Settings: TAV_FUZZ_SECONDS (default 60, shared among the harnesses), TAV_JOBS (default nproc),
# TAV_TEST_TIMEOUT per test in seconds (default 300).
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
START=$(date +%s)
JOBS=${TAV_JOBS:-$(nproc)}
FUZZ_SECONDS=${TAV_FUZZ_SECONDS:-60}
TEST_TIMEOUT=${TAV_TEST_TIMEOUT:-300}
exec </dev/null
WITH_I386=0
[ "${1:-}" = --i386 ] && WITH_I386=1

PASSED=0
FAILED=0
FAILURES=()

note_failure() {
  FAILED=$((FAILED + 1))
  FAILURES+=("$1")
}

# Each step's wall time, for the summary.
STEP_TIMES=()
STEP_NAME=""
STEP_START=$(date +%s)
step() {
  local now
  now=$(date +%s)
  [ -n "$STEP_NAME" ] && STEP_TIMES+=("$(printf '%4d s  %s' $((now - STEP_START)) "$STEP_NAME")")
  STEP_NAME=$*
  STEP_START=$now
  printf '\n===== %s =====\n' "$*"
}

# configure_and_build DIR TARGET -- CMAKE_ARGS...; false on failure.
configure_and_build() {
  local dir=$1 target=$2
  shift 3
  if ! cmake -S "$ROOT" -B "$dir" -G Ninja "$@"; then
    note_failure "configure $dir"; return 1
  fi
  # shellcheck disable=SC2086  # several targets, space-separated
  if ! cmake --build "$dir" -j "$JOBS" ${target:+--target $target}; then
    note_failure "build $dir"; return 1
  fi
}

# run_ctest NAME DIR CTEST_ARGS...: adds the run's counts to the totals.
run_ctest() {
  local name=$1 dir=$2
  shift 2
  local log="$dir/ctest-$name.log"
  (cd "$dir" && ctest --output-on-failure --no-tests=ignore --timeout "$TEST_TIMEOUT" "$@") 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local summary
  summary=$(grep -E '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$summary" ]; then
    local nfail ntotal
    nfail=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
    ntotal=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$summary")
    PASSED=$((PASSED + ntotal - nfail))
    FAILED=$((FAILED + nfail))
    [ "$nfail" -gt 0 ] && FAILURES+=("ctest $name: $nfail failed")
    if [ "$rc" -ne 0 ] && [ "$nfail" -eq 0 ]; then note_failure "ctest $name exited $rc"; fi
  elif [ "$rc" -ne 0 ]; then
    note_failure "ctest $name exited $rc"
  fi
}

# --- Wine environment for the Windows tests ------------------------------
RIG_UP=""
OWN_XVFB=""
OWN_PREFIX=""

cleanup() {
  if [ -n "$RIG_UP" ]; then "$ROOT/scripts/rig.sh" down "$ROOT/build/rig" || true; fi
  if [ -n "$OWN_PREFIX" ]; then WINEPREFIX="$OWN_PREFIX" wineserver -k 2>/dev/null || true; fi
  if [ -n "$OWN_XVFB" ]; then kill "$OWN_XVFB" 2>/dev/null || true; fi
}
trap cleanup EXIT

free_display() {
  local d
  for d in $(seq 90 199); do
    if [ ! -e "/tmp/.X$d-lock" ] && [ ! -e "/tmp/.X11-unix/X$d" ]; then echo "$d"; return 0; fi
  done
  return 1
}

# Without the project's rig: a prefix of our own and a virtual display.
minimal_wine_env() {
  export WINEPREFIX="$ROOT/build/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export LC_ALL=zh_CN.UTF-8
  if [ -z "${DISPLAY:-}" ] || [ "${TAV_HEADLESS:-0}" = 1 ]; then
    local d
    d=$(free_display) || { echo "no free X display" >&2; return 1; }
    Xvfb ":$d" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    OWN_XVFB=$!
    export DISPLAY=":$d"
    local i
    for i in $(seq 50); do [ -e "/tmp/.X11-unix/X$d" ] && break; sleep 0.1; done
  fi
  OWN_PREFIX=$WINEPREFIX
  # A prefix whose creation was interrupted is made again.
  if [ ! -e "$WINEPREFIX/.tav-ready" ] && [ -d "$WINEPREFIX" ] &&
     wine cmd /c exit 0 >/dev/null 2>&1; then
    touch "$WINEPREFIX/.tav-ready"
  fi
  if [ ! -e "$WINEPREFIX/.tav-ready" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")"
    wineboot -i >/dev/null 2>&1 && wineserver -w && touch "$WINEPREFIX/.tav-ready" ||
      { echo "wine prefix creation failed" >&2; return 1; }
  fi
  # Wine's services start with the first program and keep its output open;
  # start them here so that a test runner does not wait on them.
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_env() {
  if [ -f "$ROOT/scripts/rig.sh" ]; then
    # The layout tests switch the rig to 200 %, where the tallest page needs 2048 rows.
    if TAV_RIG_SCREEN=2560x2048 bash "$ROOT/scripts/rig.sh" up "$ROOT/build/rig"; then
      RIG_UP=1
      # shellcheck disable=SC1091
      source "$ROOT/build/rig/rig.env"
      return 0
    fi
    echo "rig.sh up failed" >&2
    RIG_UP=1   # take down whatever part of it came up
    return 1
  fi
  minimal_wine_env
}

# --- the runs --------------------------------------------------------------
step "dependencies"
if ! "$ROOT/scripts/install-deps.sh" $([ "$WITH_I386" = 1 ] && echo --i386); then
  echo "installing dependencies failed" >&2
  exit 1
fi

step "native build and tests, with AddressSanitizer and UBSan"
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
if configure_and_build build/asan "" -- -DTAV_SANITIZE=ON; then
  run_ctest asan build/asan -j "$JOBS"
fi

step "fuzzing: ${FUZZ_SECONDS}s shared among the harnesses"
# One line per harness with its executions; a failing input is saved as build/fuzz/crash-*.
TAV_FUZZ_TOTAL_SECONDS=$FUZZ_SECONDS TAV_JOBS=$JOBS "$ROOT/scripts/fuzz.sh" 2>&1 | tee build/fuzz.log
fuzz_summary=$(grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed' build/fuzz.log | tail -1)
if [ -n "$fuzz_summary" ]; then
  PASSED=$((PASSED + $(awk '{print $2}' <<<"$fuzz_summary")))
  fuzz_failed=$(awk '{print $4}' <<<"$fuzz_summary")
  [ "$fuzz_failed" -gt 0 ] && { FAILED=$((FAILED + fuzz_failed)); FAILURES+=("fuzz: $fuzz_failed failed (build/fuzz/*.log)"); }
else
  note_failure "fuzz (see build/fuzz.log)"
fi

step "Windows build and tests through Wine"
WINE_READY=""
if configure_and_build build/win "" -- -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake"; then
  if wine_env; then
    WINE_READY=1
    run_ctest win build/win -LE e2e -j "$JOBS"
    run_ctest win-e2e build/win -L e2e -j 1
    step "soak of the window program, 20 cycles (scripts/soak.sh)"
    # Its failures are repeated in the summary, where a shortened log keeps them.
    if "$ROOT/scripts/soak.sh" 20 | tee "$ROOT/build/soak.log"; then
      PASSED=$((PASSED + 1))
    else
      note_failure "soak (scripts/soak.sh 20): $(grep -E 'FAILED|GREW' "$ROOT/build/soak.log" | head -n 3 | tr '\n' ';')"
    fi
  else
    note_failure "Wine environment"
  fi
  # The release archive and the installer from this build, checked (the
  # byte-identical double build is scripts/package.sh's own check; the
  # installer runs under Wine in the e2e_installer test).
  if scripts/package.sh --from-build build/win win64 build/win/release-check.zip build/win/release-check.msi; then
    PASSED=$((PASSED + 1))
  else
    note_failure "release archive and installer"
  fi
fi

if [ "$WITH_I386" = 1 ]; then
  step "32-bit Windows: unit tests and the identification of every type through Wine"
  WIN32_TARGETS=(protocol_tests forms_tests document_tests serial_tests fake_driver_tests sim_tests app_tests e2e_tests)
  if configure_and_build build/win32 "${WIN32_TARGETS[*]}" -- -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake"; then
    if ! "$ROOT/scripts/install-deps.sh" --can-run-32bit; then
      echo "32-bit Windows programs: built; running them is not possible on this host (no IA32 emulation in its kernel)"
      STEP_NOTE="32-bit run not possible on this host"
    elif [ -n "$WINE_READY" ] || wine_env; then
      run_ctest win32 build/win32 -LE e2e -E '_NOT_BUILT$' -j "$JOBS"  # only these targets are built
      run_ctest win32-e2e build/win32 -R '^Layout\.' -j 1
    else
      note_failure "Wine environment (32-bit)"
    fi
  fi
fi

# --- summary ---------------------------------------------------------------
END=$(date +%s)
step "summary"
printf '%s\n' "${STEP_TIMES[@]}"
[ -n "${STEP_NOTE:-}" ] && echo "note: $STEP_NOTE"
for f in "${FAILURES[@]}"; do echo "FAILED: $f"; done
echo "wall time: $((END - START)) s"
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
