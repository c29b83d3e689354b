#!/usr/bin/env bash
# Soak of tavrolin-cli: apply run after run against simulated readers on
# pseudo-terminals, with random faults (tools/cli_soak.cpp says what
# it checks). Native, no Wine.
#
#   scripts/soak-cli.sh [READERS] [RUNS] [SEED]   (defaults 8, 50, 1)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
"$ROOT/scripts/install-deps.sh" >/dev/null
cmake -S . -B build/native -G Ninja >/dev/null
cmake --build build/native -j "${TAV_JOBS:-$(nproc)}" --target cli_soak >/dev/null
exec build/native/tools/cli_soak "${1:-8}" "${2:-50}" "${3:-1}"
