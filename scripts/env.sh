# Sourced by the scripts: where things live and how Wine runs.
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${WC_BUILD_DIR:-$repo/build}"
export WC_WINEPREFIX="${WC_WINEPREFIX:-$build/wineprefix}"
export WINEPREFIX="$WC_WINEPREFIX"
export WINEDEBUG=-all
# No Mono or Gecko install prompts on the first boot; a test may set its own
# overrides (keeping these two).
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
cache="${WC_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/wavecleaner}"

# The program is a 32-bit Windows program, run by Wine's 32-bit loader. Some
# kernels run without 32-bit support (ia32 emulation off: every 32-bit Linux
# binary fails with "Exec format error"), and there Wine's 32-bit loader
# cannot start at all. On such a machine the same sources are built for
# 64-bit Windows and run by wine64, so the program and the whole test suite
# still run for real; the shipped 32-bit program is built beside them.
# WC_ARCH (i686 or x86_64) overrides the choice. Call after the set-up, which
# installs Wine (32-bit Wine only where the kernel runs 32-bit code).
select_arch() {
  if [ -z "${WC_ARCH:-}" ]; then
    if kernel_runs_32bit && /usr/lib/wine/wine --version >/dev/null 2>&1; then
      WC_ARCH=i686
    else
      WC_ARCH=x86_64
    fi
  fi
  export WC_ARCH
  if [ "$WC_ARCH" = i686 ]; then
    export WINEARCH=win32
    export WC_WINE=wine
    ffmpeg_cache="$cache/ffmpeg-4.1.0/ffmpeg.exe"
    toolchain="$repo/cmake/toolchain-mingw32.cmake"
  else
    export WINEARCH=win64
    export WC_WINE=/usr/lib/wine/wine64 WINELOADER=/usr/lib/wine/wine64
    ffmpeg_cache="$cache/ffmpeg-4.1.0-x64/ffmpeg.exe"
    toolchain="$repo/cmake/toolchain-mingw64.cmake"
  fi
}

# Whether this kernel runs 32-bit x86 programs, asked without Wine: a
# 93-byte static i386 ELF program whose only instructions are exit(0)
# (mov eax,1; xor ebx,ebx; int 0x80). Where ia32 emulation is off it fails
# with "Exec format error".
kernel_runs_32bit() {
  local probe status
  # Inside the build folder: /tmp may be mounted without exec rights.
  mkdir -p "$build"
  probe=$(mktemp -p "$build" probe32.XXXXXX)
  printf '\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null
  status=$?
  rm -f "$probe"
  return "$status"
}

# Wine as the selected architecture needs it started. `command`: where that
# is plain "wine" (the 32-bit build), this function must not call itself.
wine() { command "$WC_WINE" "$@"; }

# Starts Xvfb on a free display unless one is set; sets DISPLAY and xvfb_pid.
start_xvfb() {
  xvfb_pid=""
  if [ -n "${DISPLAY:-}" ] && [ -z "${WC_FORCE_XVFB:-}" ]; then return; fi
  local fifo; fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  local n; read -r n <"$fifo"; rm -f "$fifo"
  export DISPLAY=":$n"
}

stop_xvfb() { [ -z "${xvfb_pid:-}" ] || kill "$xvfb_pid" 2>/dev/null || true; }

# Creates the Wine prefix on first use (about 20 s) and keeps one wineserver
# alive for the whole run, so every test process starts fast.
start_wine() {
  select_arch
  if [ "$WC_ARCH" != i686 ]; then
    local why="this kernel runs no 32-bit code"
    if kernel_runs_32bit; then why="32-bit Wine is not installed"; fi
    echo "wine: $why; running the 64-bit build under wine64"
  fi
  if [ -f "$WINEPREFIX/system.reg" ] && ! grep -q "^#arch=$WINEARCH" "$WINEPREFIX/system.reg"; then
    echo "wine: $WINEPREFIX was made for another architecture; making it anew"
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wine wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
  set_test_cdrom off
  wineserver -p
  if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg" 2>/dev/null ||
     ! grep -q '"Audio"="alsa"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    configure_wine_prefix
  fi
  # Start Wine's background services now, detached from our output: a
  # service started by the first test would inherit the test runner's pipes
  # and keep it waiting for their end.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# Settings for running under Xvfb with no window manager:
# - windows unmanaged: otherwise Wine waits 2 s for a window manager that
#   never comes each time a window is hidden;
# - the window font (Meiryo, which Wine lacks) replaced by a Japanese font
#   that is installed, so the Japanese texts show;
# - audio through ALSA, whose default device the wave output tests redirect.
configure_wine_prefix() {
  local reg; reg=$(mktemp --suffix=.reg)
  python3 - "$reg" <<'PY'
import sys
meiryo = "\u30e1\u30a4\u30ea\u30aa"
lines = ["Windows Registry Editor Version 5.00", "",
         r"[HKEY_CURRENT_USER\Software\Wine\X11 Driver]", '"Managed"="N"', "",
         r"[HKEY_CURRENT_USER\Software\Wine\Drivers]", '"Audio"="alsa"', "",
         r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]", '"%s"="Noto Sans CJK JP"' % meiryo, ""]
open(sys.argv[1], "wb").write(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
PY
  wine regedit /s "Z:${reg//\//\\}" </dev/null >/dev/null 2>&1 || true
  rm -f "$reg"
}

# The CD audio tests need a drive letter the system reports as a CD-ROM drive
# (X:, over an empty folder; the virtual drive of tests/aspidrive answers for
# it as \Device\CdRom0). Wine's mount manager reads its drive list only when
# it starts, so the letter is mapped or removed while no server runs. Only
# those tests get it: with a CD-ROM drive under "My Computer" the shell's
# folder browser now and then fails to select a path.
set_test_cdrom() {
  if [ "$1" = on ]; then
    mkdir -p "$build/cdrom-x"
    [ -L "$WINEPREFIX/dosdevices/x:" ] || ln -sfn "$build/cdrom-x" "$WINEPREFIX/dosdevices/x:"
    if ! grep -q '^"x:"="cdrom"' "$WINEPREFIX/system.reg"; then
      wine reg add 'HKLM\Software\Wine\Drives' /v 'x:' /d cdrom /f </dev/null >/dev/null 2>&1 || true
      wineserver -w
    fi
  else
    rm -f "$WINEPREFIX/dosdevices/x:"
    if grep -q '^"x:"="cdrom"' "$WINEPREFIX/system.reg"; then
      wine reg delete 'HKLM\Software\Wine\Drives' /v 'x:' /f </dev/null >/dev/null 2>&1 || true
      wineserver -w
    fi
  fi
}

# Restarts the Wine server with the test CD-ROM drive mapped (on) or not (off).
restart_wine_with_cdrom() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  set_test_cdrom "$1"
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wine() { wineserver -k 2>/dev/null || true; }
