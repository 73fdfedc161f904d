#!/usr/bin/env bash
# What the cases of the table "UsersFiles" (tests/app) need besides the Wine
# prefix, set up before they run and removed after them (ctest runs this as
# the fixture of the test app_usersfiles):
#   up    - a file system of 2 MiB of its own (tmpfs) on the Wine desktop,
#           in the folder WC_FULL_DRIVE names, which a job fills: a full
#           disk (the desktop may be shared by several builds: the name is
#           the build's own);
#         - a copy of the program, its MPEG library and the real converter
#           in build/test-drives/readonly, mounted read-only: a program
#           installed where the user cannot write;
#   down  - both unmounted and removed.
# Mounting needs root, or sudo without a password.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
select_arch
dir="$build/test-drives"
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo -n "$@"; fi; }
desktop() {
  local d="$WINEPREFIX/drive_c/users/$(id -un)/Desktop"
  [ -d "$d" ] || { echo "test-drives: no desktop at $d" >&2; return 1; }
  echo "$d"
}
: "${WC_FULL_DRIVE:?must name the folder of the full drive on the desktop}"
down() {
  local full
  full="$(desktop)/$WC_FULL_DRIVE"
  for m in "$full" "$dir/readonly"; do
    if mountpoint -q "$m" 2>/dev/null; then as_root umount "$m"; fi
  done
  rmdir "$full" 2>/dev/null || true
  rm -rf "$dir"
}
case "${1:-}" in
up)
  down
  full="$(desktop)/$WC_FULL_DRIVE"
  mkdir -p "$full" "$dir/readonly/extras"
  as_root mount -t tmpfs -o size=2m wc-full-drive "$full"
  cp "$build/bin/WaveCleaner.exe" "$build/bin/MMMPEG32.dll" "$dir/readonly/"
  cp "$build/bin/extras/ffmpeg.exe" "$dir/readonly/extras/"
  as_root mount --bind "$dir/readonly" "$dir/readonly"
  as_root mount -o remount,bind,ro "$dir/readonly"
  ;;
down) down ;;
*) echo "usage: $0 up|down" >&2; exit 2 ;;
esac
