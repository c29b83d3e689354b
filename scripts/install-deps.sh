#!/bin/bash
# Installs what Tavrolin's build, tests and rig use, on Debian bookworm.
# Safe to run again: apt is touched only when a package is missing, and the
# Chinese locale is generated only when it is absent.
#
#   scripts/install-deps.sh            the everyday suite (scripts/test.sh)
#   scripts/install-deps.sh --i386     and the 32-bit Windows build and what runs it
#   scripts/install-deps.sh --package  only what scripts/package.sh uses
#   scripts/install-deps.sh --can-run-32bit
#                                      exit 0 when this host runs 32-bit programs
#
# 32-bit Wine runs only where the kernel runs 32-bit programs (IA32
# emulation; some virtual machines and CI hosts have none). Installed where
# it cannot run, it breaks every Wine program, 64-bit ones included, until
# it is removed. So --i386 first runs a tiny 32-bit program, and where that
# fails it installs the 32-bit compiler only, no 32-bit Wine, and says so.
# TAV_ASSUME_NO_IA32=1 makes the check fail as on such a host;
# TAV_DEPS_DRY_RUN=1 only prints what would be installed.
set -euo pipefail

PACKAGES=(
  # native build and tests
  build-essential cmake ninja-build git python3 googletest
  nlohmann-json3-dev libcli11-dev
  # fuzzing
  clang-14 libfuzzer-14-dev libclang-rt-14-dev
  # cross build for 64-bit Windows
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  # running and driving the Windows programs (fonttools makes the rig's font)
  wine wine64 fonts-wqy-microhei fonts-wine python3-fonttools
  xvfb x11-utils xdotool imagemagick socat locales procps
  # the release: the installer (wixl; msitools reads it back), the archives checked with Info-ZIP
  wixl msitools unzip
)
# The 32-bit Windows build, and what runs it (wine32; gcc-multilib builds the
# rig's 32-bit pty shim) where the host can.
I386_BUILD=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686)
I386_RUN=(wine32:i386 gcc-multilib)
# scripts/package.sh builds both architectures and the installer; it runs
# nothing 32-bit.
PACKAGING=(cmake ninja-build git python3 g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
           "${I386_BUILD[@]}" wixl msitools unzip)

DRY_RUN=${TAV_DEPS_DRY_RUN:-0}
say() { echo "install-deps: $*"; }

# A 32-bit Linux program of 96 bytes (exit(42) through int 0x80), written
# here rather than compiled: the compiler for it may be missing too.
can_run_32bit() {
  [ "${TAV_ASSUME_NO_IA32:-0}" = 1 ] && return 1
  local probe rc=0
  probe=$(mktemp)
  printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\052\000\000\000\315\200' >"$probe"
  chmod +x "$probe"
  ("$probe") >/dev/null 2>&1 || rc=$?
  rm -f "$probe"
  [ "$rc" = 42 ]
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

case "${1:-}" in
  --can-run-32bit) can_run_32bit; exit ;;
  --package) PACKAGES=("${PACKAGING[@]}") ;;
  --i386)
    PACKAGES+=("${I386_BUILD[@]}")
    if can_run_32bit; then
      PACKAGES+=("${I386_RUN[@]}")
    else
      say "this host cannot run 32-bit programs (its kernel has no IA32 emulation):"
      say "installing the 32-bit compiler only, not 32-bit Wine, which would stop every Wine program here"
      if installed wine32:i386; then
        say "wine32 is installed already and stops every Wine program on this host; remove it with:"
        say "  apt-get remove wine32:i386"
      fi
    fi ;;
  "") ;;
  *) sed -n '2,20p' "$0" >&2; exit 2 ;;
esac

SUDO=()
if [ "$(id -u)" -ne 0 ] && [ "$DRY_RUN" != 1 ]; then
  if command -v sudo >/dev/null; then SUDO=(sudo); else
    say "not root and no sudo" >&2; exit 1
  fi
fi

missing=()
for p in "${PACKAGES[@]}"; do installed "$p" || missing+=("$p"); done
if [ "$DRY_RUN" = 1 ]; then
  say "wants: ${PACKAGES[*]}"
  say "would install: ${missing[*]}"
  exit 0
fi

# wine32 is an i386 package: the architecture must be known to dpkg first.
added_arch=0 needs_i386=0
for p in "${missing[@]}"; do [[ $p == *:i386 ]] && needs_i386=1; done
if [ "$needs_i386" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${SUDO[@]}" dpkg --add-architecture i386
  added_arch=1
fi

if [ ${#missing[@]} -gt 0 ] || [ "$added_arch" = 1 ]; then
  say "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${SUDO[@]}" apt-get update -q </dev/null
  "${SUDO[@]}" apt-get install -y -q "${missing[@]}" </dev/null
else
  say "all packages present"
fi

# zh_CN.UTF-8 gives Wine processes the GBK (936) code page.
if [ "${1:-}" != --package ] && ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  say "generating zh_CN.UTF-8"
  if grep -q '^# *zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    "${SUDO[@]}" sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  elif ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'zh_CN.UTF-8 UTF-8' | "${SUDO[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${SUDO[@]}" locale-gen </dev/null
fi
