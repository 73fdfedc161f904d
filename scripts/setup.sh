#!/usr/bin/env bash
# Installs what building and testing need on a Debian machine, and fetches the
# converter. Idempotent; prints nothing when everything is already there.
set -euo pipefail

packages=(g++-mingw-w64-i686 wine wine32:i386 xvfb xauth x11-utils imagemagick
          fonts-noto-cjk fonts-ipafont-gothic googletest alsa-utils locales)
# Tools that may come from elsewhere (npm ships inside some nodejs builds):
# their package is installed only when the command is missing.
commands=(cmake:cmake npm:npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
for entry in "${commands[@]}"; do
  command -v "${entry%%:*}" >/dev/null || missing+=("${entry#*:}")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  # Installed one by one: apt's resolver gives up on the whole set when it
  # mixes i386 and amd64 packages that share dependencies.
  for p in "${missing[@]}"; do
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$p" >/dev/null
  done
fi

# The Japanese locale: the Shift-JIS test runs Wine under it, and Wine needs
# it in the C library to name files with Japanese characters.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "setup: generating the ja_JP.UTF-8 locale"
  sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

# The converter: ffmpeg.exe from the npm package, cached outside the tree.
cache="${WC_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/wavecleaner}"
ffmpeg="$cache/ffmpeg-4.1.0/ffmpeg.exe"
if [ ! -s "$ffmpeg" ]; then
  echo "setup: fetching @ffmpeg-installer/win32-ia32@4.1.0"
  work=$(mktemp -d)
  (cd "$work" && npm pack --silent @ffmpeg-installer/win32-ia32@4.1.0 >/dev/null && tar xzf ./*.tgz)
  mkdir -p "$(dirname "$ffmpeg")"
  mv "$work/package/ffmpeg.exe" "$ffmpeg.part" && mv "$ffmpeg.part" "$ffmpeg"
  rm -rf "$work"
fi
echo "$ffmpeg" > "${WC_SETUP_STAMP:-/dev/null}"
