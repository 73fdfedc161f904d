#!/usr/bin/env bash
# Set-up, configure and build: leaves build/bin/WaveCleaner.exe with
# build/bin/extras/ffmpeg.exe beside it. Quiet unless something fails.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$repo/scripts/setup.sh"
mkdir -p "$build"
log="$build/build.log"
if ! { cmake -S "$repo" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw32.cmake" \
             -DWC_FFMPEG_EXE="$ffmpeg_cache" &&
       cmake --build "$build" --parallel "$(nproc)" "$@"; } >"$log" 2>&1; then
  grep -E -B2 -A8 'error|Error' "$log" | head -n 80 || tail -n 80 "$log"
  echo "build: failed, full log in $log" >&2
  exit 1
fi
grep -E 'warning:' "$log" | sort -u | head -n 40 || true
