#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, and fetches the
# converter. Idempotent; prints nothing when everything is already there.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"

sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
updated=""
# Installs the named packages that are missing. One by one: apt's resolver
# gives up on the whole set when it mixes i386 and amd64 packages that share
# dependencies.
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  if [ -z "$updated" ]; then $sudo apt-get update -qq; updated=1; fi
  for p in "${missing[@]}"; do
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$p" >/dev/null
  done
}

# What a minimal Debian lacks: the build program, Python for the scripts'
# generators, certificates for the npm registry.
packages=(make python3 ca-certificates g++-mingw-w64-i686 wine wine64 wine32:i386 xvfb xauth x11-utils
          imagemagick fonts-noto-cjk fonts-ipafont-gothic googletest alsa-utils locales
          clang libclang-rt-14-dev)
# Tools that may come from elsewhere (npm ships inside some nodejs builds):
# their package is installed only when the command is missing.
commands=(cmake:cmake npm:npm)
for entry in "${commands[@]}"; do
  command -v "${entry%%:*}" >/dev/null || packages+=("${entry#*:}")
done
install_missing "${packages[@]}"

# A kernel without 32-bit support runs a 64-bit build under wine64 (env.sh).
select_arch
[ "$WC_ARCH" = i686 ] || install_missing g++-mingw-w64-x86-64

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
fetch_ffmpeg @ffmpeg-installer/win32-ia32@4.1.0 "$cache/ffmpeg-4.1.0/ffmpeg.exe"
[ "$WC_ARCH" = i686 ] || fetch_ffmpeg @ffmpeg-installer/win32-x64@4.1.0 "$cache/ffmpeg-4.1.0-x64/ffmpeg.exe"
