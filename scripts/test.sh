#!/usr/bin/env bash
# Builds everything and runs the whole test suite under Wine on a virtual
# display. Exits non-zero on any failure.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$repo/scripts/build.sh"
WC_FORCE_XVFB=1 start_xvfb
trap 'stop_wine; stop_xvfb' EXIT
start_wine
cd "$build"
ctest --output-on-failure --timeout 900 "$@"
# The native fuzzing of the system-free units (WC_FUZZ_SECONDS=0 skips it).
[ "${WC_FUZZ_SECONDS:-15}" = 0 ] || bash "$repo/scripts/fuzz.sh"
