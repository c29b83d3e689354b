#!/bin/bash
# Builds the release archives for 64- and 32-bit Windows:
#
#   scripts/package.sh                     -> dist/tavrolin-VERSION-win64.zip,
#                                             dist/tavrolin-VERSION-win32.zip, dist/SHA256SUMS
#   scripts/package.sh --from-build DIR ARCH OUT.zip
#                                          archive the programs of an existing
#                                          build (no rebuild; scripts/test.sh)
#
# Each archive holds tavrolin.exe, tavrolin-cli.exe, readersim.exe,
# 使用说明.txt and SHA256SUMS. The build date is the last commit's
# (SOURCE_DATE_EPOCH), the programs carry no link time and the archive
# entries are dated by the commit, in a fixed order: every architecture is
# built twice from a clean folder and the two archives must be identical.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 1767225600)}
export SOURCE_DATE_EPOCH
VERSION=$(sed -nE 's/^project\(tavrolin VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
JOBS=${TAV_JOBS:-$(nproc)}

archive() {  # BUILD_DIR OUT.zip
  # Linked statically: a program may import system DLLs only, none of the
  # compiler's runtime (libstdc++-6.dll, libwinpthread-1.dll, ...).
  local exe
  for exe in "$1/app/tavrolin.exe" "$1/cli/tavrolin-cli.exe" "$1/sim/readersim.exe"; do
    if x86_64-w64-mingw32-objdump -p "$exe" | grep -iE 'DLL Name: lib.*\.dll'; then
      echo "package: $exe needs the compiler's runtime DLLs" >&2
      exit 1
    fi
  done
  /usr/bin/python3 "$ROOT/scripts/package_zip.py" make "$2" "$SOURCE_DATE_EPOCH" \
    "$1/app/tavrolin.exe" "$1/cli/tavrolin-cli.exe" "$1/sim/readersim.exe" "$ROOT/resources/使用说明.txt"
}

if [ "${1:-}" = --from-build ]; then
  [ $# -eq 4 ] || { sed -n '2,10p' "$0" >&2; exit 2; }
  archive "$2" "$4"
  exit 0
fi

"$ROOT/scripts/install-deps.sh" --i386 >/dev/null

# build ARCH TOOLCHAIN DIR: a release build of the three programs from scratch.
build() {
  rm -rf "$3"
  cmake -S "$ROOT" -B "$3" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$2" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s -DTAV_TESTS=OFF >"$3.log" 2>&1 &&
    cmake --build "$3" -j "$JOBS" --target tavrolin tavrolin-cli readersim >>"$3.log" 2>&1 ||
    { tail -n 30 "$3.log" >&2; echo "package: the $1 build failed (log: $3.log)" >&2; exit 1; }
}

mkdir -p dist
for arch in win64:mingw-w64.cmake win32:mingw-w64-i686.cmake; do
  name=${arch%%:*} toolchain=${arch#*:}
  out="dist/tavrolin-$VERSION-$name.zip"
  for run in 1 2; do
    echo "package: building $name ($run of 2)"
    build "$name" "$toolchain" "$ROOT/build/package-$name"
    archive "$ROOT/build/package-$name" "build/package-$name-$run.zip"
  done
  if ! cmp "build/package-$name-1.zip" "build/package-$name-2.zip"; then
    echo "package: two builds of $name differ: the archive is not reproducible" >&2
    exit 1
  fi
  mv -f "build/package-$name-1.zip" "$out"
  rm -f "build/package-$name-2.zip"
  /usr/bin/python3 "$ROOT/scripts/package_zip.py" check "$out"
done
(cd dist && sha256sum "tavrolin-$VERSION-win64.zip" "tavrolin-$VERSION-win32.zip" >SHA256SUMS)
ls -l dist
