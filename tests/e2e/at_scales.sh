#!/bin/bash
# The layout tests of the end-to-end program on other screens, on the rig
# in TAV_RIG_STATE (its display scale and screen are set for each run,
# then put back as they were):
#   at_scales.sh RIG_SH E2E_EXE scales   the layout walk at 125, 150, 175 and
#       200 % on a 2560 x 2048 screen with a taskbar (the type 1 window is
#       about 1480 rows high at 200 %; Windows keeps a window within the
#       screen's size)
#   at_scales.sh RIG_SH E2E_EXE small    laptop screens lower than the type 1
#       window, with Windows' taskbar: 1366 x 768 at 100 %, 1920 x 1080 at
#       150 %, 1280 x 720 at 125 %: the page scrolls
# The screen can be set only where the rig runs its own X server; "small"
# is skipped elsewhere, "scales" then needs a screen of 2048 rows already.
[ -n "${TAV_RIG_STATE:-}" ] || { echo "no rig: TAV_RIG_STATE unset"; exit 77; }
RIG=$1 EXE=$2 MODE=${3:-scales}

screen_size() { xdpyinfo 2>/dev/null | sed -nE 's/.*dimensions: +([0-9]+x[0-9]+) pixels.*/\1/p'; }
size=$(screen_size)
rows=${size#*x}
work=$(xprop -root _NET_WORKAREA 2>/dev/null | sed -nE 's/.*= [0-9]+, [0-9]+, [0-9]+, ([0-9]+).*/\1/p')
taskbar=$(( ${rows:-0} - ${work:-${rows:-0}} ))
dpi=$(cat "$WINEPREFIX/.tav-rig-dpi" 2>/dev/null || echo 96)
own_screen=0
[ -f "$TAV_RIG_STATE/xvfb.pid" ] && kill -0 "$(cat "$TAV_RIG_STATE/xvfb.pid")" 2>/dev/null && own_screen=1

restore() {
  "$RIG" dpi "$TAV_RIG_STATE" "$dpi" >/dev/null 2>&1
  [ "$own_screen" = 1 ] && [ -n "$size" ] && "$RIG" screen "$TAV_RIG_STATE" "$size" "$taskbar" >/dev/null 2>&1
}
trap restore EXIT

# run DPI SCREEN FILTER: the tests of FILTER at DPI on SCREEN (empty: as it is).
rc=0
run() {
  "$RIG" dpi "$TAV_RIG_STATE" "$1" || exit 1
  if [ -n "$2" ]; then "$RIG" screen "$TAV_RIG_STATE" "$2" || exit 1; fi
  local log
  log=$(mktemp)
  wine "$EXE" --gtest_filter="$3" 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" = 0 ] || rc=1
  # Each screen is chosen for its test: a test skipped there did not run.
  if grep -q '^\[  SKIPPED \]' "$log"; then echo "skipped at $1 DPI on ${2:-the screen}" >&2; rc=1; fi
  rm -f "$log"
}

case $MODE in
  scales)
    screen=""
    if [ "$own_screen" = 1 ]; then
      screen=2560x2048
    elif [ "${rows:-0}" -lt 2048 ]; then
      echo "the rig's screen has ${rows:-no} rows and is not the rig's own; bring it up headless" >&2
      exit 1
    fi
    for scale in 120 144 168 192; do run "$scale" "$screen" 'Layout.EveryPage*'; screen=""; done ;;
  small)
    [ "$own_screen" = 1 ] || { echo "the rig does not run its own X server: its screen cannot be set"; exit 77; }
    run 96 1366x768 'Layout.TooSmall*'
    run 144 1920x1080 'Layout.TooSmall*'
    run 120 1280x720 'Layout.TooSmall*' ;;
  *) echo "usage: $0 RIG_SH E2E_EXE scales|small" >&2; exit 2 ;;
esac
exit $rc
