#!/usr/bin/env bash
# Builds and runs every benchmark; each prints "bench <name> ratio=<x> target=<y>".
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$repo/scripts/build.sh"
WC_FORCE_XVFB=1 start_xvfb
trap 'stop_wine; stop_xvfb' EXIT
start_wine
cd "$build/bin"
# The CD benchmark's drive is the virtual one beside the executable, not Wine's WNASPI32.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wnaspi32=n"
wine ./wc_bench.exe "$@"
