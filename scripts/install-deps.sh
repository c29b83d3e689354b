#!/bin/bash
# Installs everything Tavrolin's build, tests and rig use, on Debian
# bookworm (scripts/install-deps.sh [--i386], see below). Safe to run
# again: apt is touched only when a package is missing, and the Chinese
# locale is generated only when it is absent.
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
)
# With --i386: the 32-bit Windows build and what runs it (wine32; gcc-multilib
# builds the rig's 32-bit pty shim). scripts/test.sh --i386 and
# scripts/package.sh ask for them; the everyday suite does without.
I386_PACKAGES=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine32:i386 gcc-multilib)
I386=0
[ "${1:-}" = --i386 ] && I386=1 && PACKAGES+=("${I386_PACKAGES[@]}")

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then SUDO=(sudo); else
    echo "install-deps: not root and no sudo" >&2; exit 1
  fi
fi

# wine32 is an i386 package: the architecture must be known to dpkg first.
added_arch=0
if [ "$I386" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${SUDO[@]}" dpkg --add-architecture i386
  added_arch=1
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ] || [ "$added_arch" = 1 ]; then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${SUDO[@]}" apt-get update -q </dev/null
  "${SUDO[@]}" apt-get install -y -q "${missing[@]}" </dev/null
else
  echo "install-deps: all packages present"
fi

# zh_CN.UTF-8 gives Wine processes the GBK (936) code page.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  echo "install-deps: generating zh_CN.UTF-8"
  if grep -q '^# *zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    "${SUDO[@]}" sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  elif ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'zh_CN.UTF-8 UTF-8' | "${SUDO[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${SUDO[@]}" locale-gen </dev/null
fi
