#!/usr/bin/env bash
# Set-up, configure and build: leaves build/bin/WaveCleaner.exe with
# build/bin/extras/ffmpeg.exe beside it. Quiet unless something fails.
#   build.sh            the program, the tests and the benchmarks, for both
#                       architectures (below)
#   build.sh --program  the program, what it loads at run time (the MPEG
#                       decoder library) and its converter; no tests
# The tests run one build (env.sh chooses: the shipped 32-bit one where the
# kernel runs 32-bit code, else a 64-bit one under wine64). The other
# architecture is compiled too, in full but not run: build/win32 beside a
# 64-bit test build, build/win64 beside a 32-bit one. The two compilers warn
# about different things (the 32-bit one sees other sizes and inlines
# otherwise), so a change made on either kind of machine must build
# warning-free on the other. With --program only the shipped 32-bit program
# is built beside a 64-bit one.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$repo/scripts/setup.sh"
select_arch
targets=()
[ "${1:-}" = --program ] && targets=(--target WaveCleaner MMMPEG32)

# CI builds with warnings as errors; other builds list them (below).
werror=OFF
[ -n "${CI:-}" ] && werror=ON

log="$build/build.log"
mkdir -p "$build"
: >"$log"
# Configures and builds one tree: folder, toolchain, converter, cmake options...
build_tree() {
  local dir=$1 chain=$2 converter=$3; shift 3
  # A tree configured for the other architecture starts afresh.
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -qE "^CMAKE_TOOLCHAIN_FILE:[A-Z]+=$chain\$" "$dir/CMakeCache.txt"; then
    rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
  fi
  cmake -S "$repo" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$chain" -DWC_FFMPEG_EXE="$converter" \
        -DWC_WERROR="$werror" "$@" &&
    cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
}
# The other architecture's tree: its tests are compiled but not run; the
# 64-bit one beside a 32-bit test build gets its converter, for bench.sh.
other_tree() {
  if [ "$WC_ARCH" != i686 ]; then
    local tests=ON; [ "${1:-}" = --program ] && tests=OFF
    build_tree "$build/win32" "$repo/cmake/toolchain-mingw32.cmake" \
               "$cache/ffmpeg-4.1.0/ffmpeg.exe" -DWC_BUILD_TESTS="$tests"
  elif [ "${1:-}" != --program ]; then
    build_tree "$build/win64" "$repo/cmake/toolchain-mingw64.cmake" "$cache/ffmpeg-4.1.0-x64/ffmpeg.exe"
  fi
}
if ! { build_tree "$build" "$toolchain" "$ffmpeg_cache" && other_tree "${1:-}"; } >>"$log" 2>&1; then
  grep -E -B2 -A8 'error|Error' "$log" | head -n 80 || tail -n 80 "$log"
  echo "build: failed, full log in $log" >&2
  exit 1
fi
grep -E 'warning:' "$log" | sort -u | head -n 40 || true
