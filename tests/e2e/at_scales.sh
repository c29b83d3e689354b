#!/bin/bash
# The layout tests of the end-to-end program at 150 % and 200 %: the rig
# in TAV_RIG_STATE is set to each scale in turn, then back to 100 %. The
# type 1 window is 1462 pixels high at 200 %: Windows keeps a window within
# the screen's size, so the rig needs a screen of 2048 rows
# (TAV_RIG_SCREEN=2560x2048 when it comes up, as scripts/test.sh does).
#   at_scales.sh RIG_SH E2E_EXE
[ -n "${TAV_RIG_STATE:-}" ] || { echo "no rig: TAV_RIG_STATE unset"; exit 77; }
RIG=$1 EXE=$2
rows=$(xdpyinfo 2>/dev/null | sed -nE 's/.*dimensions: +[0-9]+x([0-9]+) pixels.*/\1/p')
if [ "${rows:-0}" -lt 2048 ]; then
  echo "the rig's screen has ${rows:-no} rows; bring it up with TAV_RIG_SCREEN=2560x2048" >&2
  exit 1
fi
trap '"$RIG" dpi "$TAV_RIG_STATE" 96 >/dev/null 2>&1' EXIT
rc=0
for dpi in 144 192; do
  "$RIG" dpi "$TAV_RIG_STATE" "$dpi" || exit 1
  wine "$EXE" --gtest_filter='Layout.*' || rc=1
done
exit $rc
