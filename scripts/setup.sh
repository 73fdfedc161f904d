#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, and fetches the
# converter. Idempotent; prints nothing when everything is already there.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
updated=""
# Reads the package indexes, once per run. Registries lag now and then (a
# mirror mid-sync serves an index of the wrong size): the error is shown,
# tried once more, and the set-up goes on with the indexes that did arrive.
apt_update() {
  [ -z "$updated" ] || return 0
  updated=1
  local try err; err=$(mktemp)
  for try in 1 2; do
    if $sudo apt-get update -qq 2>"$err"; then rm -f "$err"; return 0; fi
    echo "setup: apt-get update failed (try $try of 2):"
    sed 's/^/setup:   /' "$err" | head -n 12
  done
  rm -f "$err"
  echo "setup: going on with the package indexes that were read"
}

is_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# Installs the named packages that are missing, one by one: apt's resolver
# gives up on the whole set when it mixes i386 and amd64 packages that share
# dependencies. Returns non-zero, with apt's words, when one cannot be had.
install_missing() {
  local missing=() p err
  for p in "$@"; do is_installed "$p" || missing+=("$p"); done
  ((${#missing[@]})) || return 0
  echo "setup: installing ${missing[*]}"
  apt_update
  err=$(mktemp)
  for p in "${missing[@]}"; do
    if ! DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$p" \
         >/dev/null 2>"$err"; then
      echo "setup: could not install $p:"
      grep -v '^debconf' "$err" | sed 's/^/setup:   /' | tail -n 12
      rm -f "$err"
      return 1
    fi
  done
  rm -f "$err"
}

# Which Windows build the tests run is decided before anything is installed:
# the 32-bit one only where the kernel runs 32-bit code (or WC_ARCH asks for
# it). Only then is the i386 architecture added, whose indexes are the ones a
# lagging mirror breaks; elsewhere one left by an earlier set-up, with no
# package of its own, is dropped.
want32=""
if [ "${WC_ARCH:-}" = i686 ] || { [ "${WC_ARCH:-}" != x86_64 ] && kernel_runs_32bit; }; then want32=1; fi
if [ -n "$want32" ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "setup: adding the i386 architecture for 32-bit Wine"
    $sudo dpkg --add-architecture i386
  fi
elif dpkg --print-foreign-architectures | grep -qx i386 &&
     ! dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -qx i386; then
  $sudo dpkg --remove-architecture i386 || true
fi

# What a minimal Debian lacks: the build program, Python for the scripts'
# generators, certificates for the npm registry, objdump for the check of
# the 32-bit build's bindings.
packages=(make python3 ca-certificates g++-mingw-w64-i686 wine wine64
          xvfb xauth x11-utils imagemagick fonts-noto-cjk fonts-ipafont-gothic googletest
          alsa-utils locales clang libclang-rt-14-dev binutils)
# Tools that may come from elsewhere (npm ships inside some nodejs builds):
# their package is installed only when the command is missing.
commands=(cmake:cmake npm:npm)
for entry in "${commands[@]}"; do
  command -v "${entry%%:*}" >/dev/null || packages+=("${entry#*:}")
done
install_missing "${packages[@]}"

# 32-bit Wine where 32-bit code runs. When it cannot be had (its i386
# packages missing from a lagging index, say), the set-up says why and the
# tests take the 64-bit path (select_arch finds no 32-bit loader).
# A failed try is remembered for an hour, so that every build does not read
# the indexes twice again; after that the mirror has likely caught up.
wine32_failed="$cache/wine32-failed"
if [ -n "$want32" ] && ! is_installed wine32:i386; then
  if [ -n "$(find "$wine32_failed" -mmin -60 2>/dev/null)" ]; then
    echo "setup: 32-bit Wine could not be installed within the last hour; the tests run the 64-bit build under wine64"
  elif ! install_missing wine32:i386; then
    mkdir -p "$cache" && touch "$wine32_failed"
    echo "setup: 32-bit Wine could not be installed (above); the tests run the 64-bit build under wine64"
  else
    rm -f "$wine32_failed"
  fi
fi
# Both compilers: the tests run one architecture, the other is compiled too
# (build.sh).
install_missing g++-mingw-w64-x86-64

# The Japanese locale: the Shift-JIS test runs Wine under it, and Wine needs
# it in the C library to name files with Japanese characters.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "setup: generating the ja_JP.UTF-8 locale"
  $sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

# The converter: ffmpeg.exe from the npm package, cached outside the tree.
# The 64-bit build of the same release where the tests run 64-bit.
fetch_ffmpeg() {  # package, destination
  [ -s "$2" ] && return 0
  echo "setup: fetching $1"
  local work; work=$(mktemp -d)
  # npm trusts the system's certificate store too (an egress proxy's
  # authority may be there only).
  (cd "$work" && NODE_EXTRA_CA_CERTS="${NODE_EXTRA_CA_CERTS:-/etc/ssl/certs/ca-certificates.crt}" \
     npm pack --silent "$1" >/dev/null && tar xzmf ./*.tgz)
  mkdir -p "$(dirname "$2")"
  mv "$work/package/ffmpeg.exe" "$2.part" && mv "$2.part" "$2"
  rm -rf "$work"
}
# Both converters: each build gets its own (the 64-bit one runs the tests
# where the kernel runs no 32-bit code, and the benchmarks of both builds
# where it does).
fetch_ffmpeg @ffmpeg-installer/win32-ia32@4.1.0 "$cache/ffmpeg-4.1.0/ffmpeg.exe"
fetch_ffmpeg @ffmpeg-installer/win32-x64@4.1.0 "$cache/ffmpeg-4.1.0-x64/ffmpeg.exe"
