#!/usr/bin/env bash
# Runs the README's two commands on a minimal Debian bookworm, the way a new
# user's machine starts: debootstrap --variant=minbase into a folder, the
# security and update suites an installed system reads, upgraded from them,
# a clone of the repository's committed state inside it, then the test
# command as CI runs it (`.ci/run`: warnings are errors) and
# `bash scripts/run.sh` in a chroot with a clean environment. Prints the
# last lines and the exit status. Needs root; takes about an hour. Not part
# of CI.
#   fresh-check.sh [folder]   (default build-fresh/ in the repository)
# WC_ARCH (i686 or x86_64), when set, is handed to both commands, so that
# either path can be proven from scratch on a machine that runs 32-bit code.
set -uo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
work="${1:-$repo/build-fresh}"
root="$work/root"
[ "$(id -u)" = 0 ] || { echo "fresh-check: needs root (debootstrap, chroot, mounts)" >&2; exit 2; }
# A lagging mirror may fail one of the indexes; the others still serve.
command -v debootstrap >/dev/null ||
  { apt-get update -qq || true; DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null; }

mounts=()
cleanup() {
  local i
  for ((i=${#mounts[@]}-1; i>=0; i--)); do umount -l "${mounts[$i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
mount_in() {  # mount arguments..., target inside the root last
  local target="$root${*: -1}"
  mkdir -p "$target"
  mount "${@:1:$#-1}" "$target" && mounts+=("$target")
}

# A fresh system each time: nothing a previous check installed may help.
rm -rf "$work"
mkdir -p "$work"
echo "fresh-check: debootstrap --variant=minbase bookworm into $root"
if ! debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >"$work/debootstrap.log" 2>&1; then
  tail -n 20 "$work/debootstrap.log"; echo "fresh-check: debootstrap failed" >&2; exit 1
fi
# A chroot does not inherit the host's extra certificate authorities (an
# egress proxy's, say): the package clients inside must trust what the host's do.
if compgen -G "/usr/local/share/ca-certificates/*.crt" >/dev/null; then
  mkdir -p "$root/usr/local/share/ca-certificates"
  cp /usr/local/share/ca-certificates/*.crt "$root/usr/local/share/ca-certificates/"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone -q "$repo" "$root/src/wavecleaner"
# An installed Debian reads the security and update suites too, and has
# taken their updates: the packages a new machine starts with come from
# there, and the set-up's installs must agree with them (a bare debootstrap
# has the release alone, which hid a failure that real machines had).
rm -f "$root/etc/apt/sources.list"
cat >"$root/etc/apt/sources.list.d/debian.sources" <<'SOURCES'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES

mount_in -t proc proc /proc
mount_in -t sysfs sysfs /sys
mount_in --bind /dev /dev
mount_in -t devpts devpts /dev/pts
mount_in -t tmpfs tmpfs /dev/shm
mount_in -t tmpfs tmpfs /tmp

echo "fresh-check: upgrading from the security and update suites (log: $work/upgrade.log)"
if ! chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
     bash -c 'apt-get update -qq && apt-get upgrade -y -qq' >"$work/upgrade.log" 2>&1; then
  tail -n 20 "$work/upgrade.log"; echo "fresh-check: the upgrade failed" >&2; exit 1
fi

# Both README commands, each in a clean environment: the test command, then
# the one that builds and starts the program (headless: it saves a
# screenshot and ends).
arch=()
[ -z "${WC_ARCH:-}" ] || arch=("WC_ARCH=$WC_ARCH")
run_inside() {  # command, log
  chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 "${arch[@]}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /src/wavecleaner && $1" >"$2" 2>&1
}
# The set-up first, on its own, so that its time (the README gives it) is
# measured apart from the build and the tests.
echo "fresh-check: running bash scripts/setup.sh inside (log: $work/setup.log)"
started=$SECONDS
run_inside "bash scripts/setup.sh" "$work/setup.log"
setup_status=$?
echo "fresh-check: setup.sh exit status $setup_status after $((SECONDS - started)) s"
echo "fresh-check: running .ci/run inside${WC_ARCH:+ with WC_ARCH=$WC_ARCH} (log: $work/test.log)"
started=$SECONDS
run_inside "bash .ci/run" "$work/test.log"
status=$?
tail -n 25 "$work/test.log"
echo "fresh-check: .ci/run exit status $status after $((SECONDS - started)) s"
echo "fresh-check: running bash scripts/run.sh inside (log: $work/run.log)"
started=$SECONDS
run_inside "bash scripts/run.sh" "$work/run.log"
run_status=$?
tail -n 5 "$work/run.log"
echo "fresh-check: run.sh exit status $run_status after $((SECONDS - started)) s"
[ "$status" = 0 ] && status=$run_status
echo "fresh-check: exit status $status"
exit $status
