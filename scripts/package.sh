#!/bin/bash
# Builds the release: archives for 64- and 32-bit Windows and an installer
# of the 64-bit programs:
#
#   scripts/package.sh                     -> dist/tavrolin-VERSION-win64.zip,
#                                             dist/tavrolin-VERSION-win32.zip,
#                                             dist/tavrolin-VERSION-win64.msi, dist/SHA256SUMS
#   scripts/package.sh --from-build DIR ARCH OUT.zip [OUT.msi]
#                                          the archive (and the installer) of the
#                                          programs of an existing build, checked
#                                          (no rebuild; scripts/test.sh)
#
# Each archive holds tavrolin.exe, tavrolin-cli.exe, readersim.exe,
# 使用说明.txt and SHA256SUMS (scripts/package_zip.py); the installer
# installs the same files for the user who runs it, with a Start menu
# shortcut (scripts/package_msi.py). The build date is the last commit's
# (SOURCE_DATE_EPOCH), the programs carry no link time, and the archive
# entries and the installer's files and summary are dated by the commit:
# every architecture is built twice from a clean folder and the two
# archives, and the two installers, must be byte-identical.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 1767225600)}
export SOURCE_DATE_EPOCH
VERSION=$(sed -nE 's/^project\(tavrolin VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
JOBS=${TAV_JOBS:-$(nproc)}

programs() {  # BUILD_DIR: the three programs of a build
  echo "$1/app/tavrolin.exe" "$1/cli/tavrolin-cli.exe" "$1/sim/readersim.exe"
}

archive() {  # BUILD_DIR OUT.zip
  # Linked statically: a program may import system DLLs only, none of the
  # compiler's runtime (libstdc++-6.dll, libwinpthread-1.dll, ...).
  local exe
  for exe in $(programs "$1"); do
    if x86_64-w64-mingw32-objdump -p "$exe" | grep -iE 'DLL Name: lib.*\.dll'; then
      echo "package: $exe needs the compiler's runtime DLLs" >&2
      exit 1
    fi
  done
  # shellcheck disable=SC2046  # the three paths, without blanks
  /usr/bin/python3 "$ROOT/scripts/package_zip.py" make "$2" "$SOURCE_DATE_EPOCH" $(programs "$1") \
    "$ROOT/resources/使用说明.txt"
}

installer() {  # BUILD_DIR OUT.msi
  # shellcheck disable=SC2046
  /usr/bin/python3 "$ROOT/scripts/package_msi.py" make "$2" "$SOURCE_DATE_EPOCH" "$VERSION" $(programs "$1") \
    "$ROOT/resources/使用说明.txt" "$ROOT/resources/tavrolin_large.ico"
}

check_installer() {  # OUT.msi BUILD_DIR
  # shellcheck disable=SC2046
  /usr/bin/python3 "$ROOT/scripts/package_msi.py" check "$1" "$VERSION" $(programs "$2")
}

if [ "${1:-}" = --from-build ]; then
  [ $# -eq 4 ] || [ $# -eq 5 ] || { sed -n '2,12p' "$0" >&2; exit 2; }
  archive "$2" "$4"
  /usr/bin/python3 "$ROOT/scripts/package_zip.py" check "$4"
  if [ $# -eq 5 ]; then
    installer "$2" "$5"
    check_installer "$5" "$2"
  fi
  exit 0
fi

"$ROOT/scripts/install-deps.sh" --package >/dev/null

# build ARCH TOOLCHAIN DIR: a release build of the three programs from scratch.
build() {
  rm -rf "$3"
  cmake -S "$ROOT" -B "$3" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$2" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s -DTAV_TESTS=OFF >"$3.log" 2>&1 &&
    cmake --build "$3" -j "$JOBS" --target tavrolin tavrolin-cli readersim >>"$3.log" 2>&1 ||
    { tail -n 30 "$3.log" >&2; echo "package: the $1 build failed (log: $3.log)" >&2; exit 1; }
}

# same FILE1 FILE2 WHAT: the two builds' outputs must be identical.
same() {
  cmp "$1" "$2" || { echo "package: two builds of $3 differ: it is not reproducible" >&2; exit 1; }
}

mkdir -p dist
MSI="dist/tavrolin-$VERSION-win64.msi"
for arch in win64:mingw-w64.cmake win32:mingw-w64-i686.cmake; do
  name=${arch%%:*} toolchain=${arch#*:}
  out="dist/tavrolin-$VERSION-$name.zip"
  for run in 1 2; do
    echo "package: building $name ($run of 2)"
    build "$name" "$toolchain" "$ROOT/build/package-$name"
    archive "$ROOT/build/package-$name" "build/package-$name-$run.zip"
    if [ "$name" = win64 ]; then installer "$ROOT/build/package-$name" "build/package-$name-$run.msi"; fi
  done
  same "build/package-$name-1.zip" "build/package-$name-2.zip" "the $name archive"
  mv -f "build/package-$name-1.zip" "$out"
  rm -f "build/package-$name-2.zip"
  /usr/bin/python3 "$ROOT/scripts/package_zip.py" check "$out"
  if [ "$name" = win64 ]; then
    same "build/package-$name-1.msi" "build/package-$name-2.msi" "the installer"
    mv -f "build/package-$name-1.msi" "$MSI"
    rm -f "build/package-$name-2.msi"
    check_installer "$MSI" "$ROOT/build/package-$name"
  fi
done
(cd dist && sha256sum "tavrolin-$VERSION-win64.zip" "tavrolin-$VERSION-win32.zip" "tavrolin-$VERSION-win64.msi" >SHA256SUMS)
ls -l dist
