#!/bin/bash
# scripts/install-deps.sh on a host whose kernel cannot run 32-bit programs
# (its check made to fail): --i386 would install the 32-bit compiler and no
# 32-bit Wine, and says why; the packaging set never holds 32-bit Wine.
# Dry runs: nothing is installed.
#   install_deps_test.sh INSTALL_DEPS_SH
set -uo pipefail
DEPS=$1
fail() { echo "FAILED: $*"; exit 1; }

out=$(TAV_ASSUME_NO_IA32=1 TAV_DEPS_DRY_RUN=1 bash "$DEPS" --i386) || fail "--i386 exited $?"
echo "$out"
grep -q 'wine32' <<<"$(grep 'wants' <<<"$out")" && fail "32-bit Wine on a host that cannot run it"
grep -q 'cannot run 32-bit programs' <<<"$out" || fail "no word of the host's limit"
TAV_ASSUME_NO_IA32=1 bash "$DEPS" --can-run-32bit && fail "the check did not fail"

out=$(TAV_DEPS_DRY_RUN=1 bash "$DEPS" --package) || fail "--package exited $?"
echo "$out"
grep -qE 'wine|gcc-multilib' <<<"$(grep 'wants' <<<"$out")" && fail "packaging installs what runs 32-bit programs"
echo "install-deps: no 32-bit Wine where the host cannot run it, none for packaging"
