#!/usr/bin/env bash
# Builds everything and runs the whole test suite under Wine on a virtual
# display. Exits non-zero on any failure.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$repo/scripts/build.sh"
# What only the shipped 32-bit build has, checked before any test runs.
bash "$repo/scripts/check-win32.sh"
WC_FORCE_XVFB=1 start_xvfb
trap 'stop_wine; stop_xvfb' EXIT
start_wine
cd "$build"
status=0
ctest --output-on-failure --timeout 900 -E '^cdaudio$' "$@" || status=$?
# The CD audio tests run last, on a server that has the test CD-ROM drive.
listed=$(ctest -N "$@")
if grep -q ': cdaudio$' <<<"$listed"; then
  restart_wine_with_cdrom on
  ctest --output-on-failure --timeout 900 -R '^cdaudio$' || status=$?
fi
[ "$status" = 0 ] || exit "$status"
# After the whole suite, as CI runs it: the quick benchmarks once, failing on
# a figure below half its target (WC_BENCH_CHECK=0 leaves them out).
if [ $# -eq 0 ] && [ "${WC_BENCH_CHECK:-1}" != 0 ]; then
  (cd "$build/bin" && WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wnaspi32=n" wine ./wc_bench.exe --ci)
fi
# The native fuzzing of the system-free units (WC_FUZZ_SECONDS=0 skips it).
[ "${WC_FUZZ_SECONDS:-15}" = 0 ] || bash "$repo/scripts/fuzz.sh"
