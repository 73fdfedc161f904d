#!/usr/bin/env bash
# Builds and starts Wave Cleaner under Wine. Without a display it starts a
# virtual one, saves a screenshot of the main window and closes the program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
bash "$repo/scripts/build.sh" --program
headless=""; [ -n "${DISPLAY:-}" ] || headless=1
start_xvfb
trap 'stop_wine; stop_xvfb' EXIT
start_wine
if [ -z "$headless" ]; then
  wine "$build/bin/WaveCleaner.exe"
  exit 0
fi
wine "$build/bin/WaveCleaner.exe" &
title="Wave Cleaner 2026"
for _ in $(seq 1 100); do
  id=$(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\"" | awk '{print $1}' | head -n 1 || true)
  [ -n "$id" ] && break
  sleep 0.2
done
[ -n "${id:-}" ] || { echo "run: the main window did not appear" >&2; exit 1; }
sleep 1  # let the first paint finish
mkdir -p "$build/screenshots"
shot="$build/screenshots/main-window.png"
import -window "$id" "$shot"
echo "run: screenshot of the main window saved to $shot"
