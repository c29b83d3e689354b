#!/bin/bash
# The installer under Wine, in the rig's prefix: the package of this build
# and a newer one (its version's last number one higher), made and checked
# by scripts/package.sh, then installed, started, upgraded and removed by
# the Installer test of the end-to-end program.
#   installer_test.sh ROOT BUILD_DIR E2E_EXE
[ -n "${WINEPREFIX:-}" ] || { echo "no Wine environment: WINEPREFIX unset"; exit 77; }
ROOT=$1 BUILD=$2 EXE=$3
set -euo pipefail
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
version=$(sed -nE 's/^project\(tavrolin VERSION ([0-9.]+).*/\1/p' "$ROOT/CMakeLists.txt")
newer=${version%.*}.$((${version##*.} + 1))
"$ROOT/scripts/package.sh" --from-build "$BUILD" win64 "$folder/release.zip" "$folder/release.msi"
/usr/bin/python3 "$ROOT/scripts/package_msi.py" make "$folder/newer.msi" "$(date +%s)" "$newer" \
  "$BUILD/app/tavrolin.exe" "$BUILD/cli/tavrolin-cli.exe" "$BUILD/sim/readersim.exe" \
  "$ROOT/resources/使用说明.txt" "$ROOT/resources/tavrolin_large.ico"
TAV_MSI=$(winepath -w "$folder/release.msi") TAV_MSI_VERSION=$version \
TAV_MSI_NEWER=$(winepath -w "$folder/newer.msi") TAV_MSI_NEWER_VERSION=$newer \
  wine "$EXE" --gtest_filter='Installer.*' 2>&1 | tee "$folder/test.log"
# The test ran (the packages are there, so it must not skip) and passed.
grep -q '^\[  PASSED  \] 1 test\.' "$folder/test.log"
