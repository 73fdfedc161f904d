#!/usr/bin/env bash
# Builds and runs every benchmark (those whose name holds the argument, when
# one is given); each prints "bench <name> ratio=<x> target=<y> build=<b>",
# where b names the build that ran it (32-bit or 64-bit). Where this machine
# runs 32-bit code both builds are measured, the shipped 32-bit one in build/
# and the 64-bit one in build/win64; elsewhere the 64-bit build runs alone
# and the script says why.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

# Runs one architecture's benchmarks under Wine, with its tree's own
# prefix: architecture, build folder, then wc_bench's arguments.
bench_build() {
  local arch=$1 dir=$2
  shift 2
  (
    unset WC_WINEPREFIX
    export WC_ARCH=$arch WC_BUILD_DIR=$dir
    source "$repo/scripts/env.sh"
    trap stop_wine EXIT
    start_wine
    cd "$build/bin"
    # The CD benchmark's drive is the virtual one beside the executable, not Wine's WNASPI32.
    export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;wnaspi32=n"
    wine ./wc_bench.exe "$@"
  )
}

asked=${WC_ARCH:-}
select_arch
if [ "$WC_ARCH" != i686 ]; then
  if [ -n "$asked" ]; then why="WC_ARCH=$asked asks for the 64-bit build alone"
  elif ! kernel_runs_32bit; then why="this kernel runs no 32-bit code"
  else why="32-bit Wine is not installed"
  fi
  echo "bench: the shipped 32-bit build is not measured here: $why"
fi
# Both trees: beside a 32-bit test build, the 64-bit one in build/win64 (build.sh).
bash "$repo/scripts/build.sh"
WC_FORCE_XVFB=1 start_xvfb
trap stop_xvfb EXIT
bench_build "$WC_ARCH" "$build" "$@"
if [ "$WC_ARCH" = i686 ]; then bench_build x86_64 "$build/win64" "$@"; fi
