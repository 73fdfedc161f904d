#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) natively with clang, libFuzzer and the
# address and undefined-behaviour sanitizers, and runs each for a bounded
# time from the seeds fuzz/make_seeds.py writes. Exits non-zero on any
# finding (crash, sanitizer report, leak, an input that runs over a
# second); the input that found it is kept under build/fuzz/artifacts/.
# WC_FUZZ_SECONDS sets the time per target (default 15: about two minutes
# for the seven).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

seconds="${WC_FUZZ_SECONDS:-15}"
out="$build/fuzz"
mkdir -p "$out"
cmake -S "$repo/fuzz" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ >"$out/configure.log" 2>&1 || { cat "$out/configure.log"; exit 1; }
cmake --build "$out" -j2 >"$out/build.log" 2>&1 || { cat "$out/build.log"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 "$repo/fuzz/make_seeds.py" "$work/seeds"
mkdir -p "$out/artifacts"
failed=0
for target in adpcm_ms_fuzz adpcm_nibble_fuzz pcm_fuzz riff_lists_fuzz mpeg_stream_fuzz mpeg_decoder_fuzz mpeg_file_fuzz; do
  corpus="$work/corpus/$target"
  mkdir -p "$corpus"
  cp "$work/seeds/$target"/* "$corpus/"
  log="$out/$target.log"
  # No input of the fuzzing size may take a second: a slow case (a search
  # that costs seconds a MiB) is a finding like a crash.
  if "$out/$target" "$corpus" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 \
       -max_len=65536 -print_final_stats=1 -artifact_prefix="$out/artifacts/$target-" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
    echo "fuzz $target runs=$runs ok"
  else
    echo "fuzz $target FAILED (log $log):"
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -20
    failed=1
  fi
done
exit "$failed"
