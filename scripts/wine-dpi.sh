#!/usr/bin/env bash
# Runs a test executable under Wine at another screen density:
#   wine-dpi.sh <pixels per inch> <program> [arguments...]
# Wine reads the density from the registry once, when its server starts, so
# each density has a prefix of its own (build/wineprefix-dpi<N>, made on first
# use like the main one) with its own wineserver, stopped again afterwards.
# The main prefix and every other test stay at 96 pixels per inch.
set -euo pipefail
dpi=$1
shift
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
export WC_WINEPREFIX="$build/wineprefix-dpi$dpi"
export WINEPREFIX="$WC_WINEPREFIX"
trap 'wineserver -k 2>/dev/null || true' EXIT
start_wine >/dev/null

hex=$(printf '%08x' "$dpi")
if ! grep -qi "\"LogPixels\"=dword:$hex" "$WINEPREFIX/user.reg" 2>/dev/null; then
  # Both places Wine has looked for it over its versions.
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  wine reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  # A new server reads the new density.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p
fi
"$WC_WINE" "$@"
