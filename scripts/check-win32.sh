#!/usr/bin/env bash
# Checks, at build time, what only the shipped 32-bit build has and no test
# on a machine without 32-bit support can run: every name the 32-bit program
# binds by name from MMMPEG32.DLL at run time is exported, undecorated, by the
# 32-bit library built beside it (a stdcall name left decorated, "_name@8",
# or an export dropped would only show on a user's machine). The structure
# layouts and 32-bit size arithmetic are pinned by static assertions, which
# that build compiles.
#   check-win32.sh [bin folder]   default: the 32-bit build's bin folder
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/env.sh"
select_arch
bin="${1:-}"
if [ -z "$bin" ]; then
  if [ "$WC_ARCH" = i686 ]; then bin="$build/bin"; else bin="$build/win32/bin"; fi
fi
exe="$bin/WaveCleaner.exe"
dll=$(find "$bin" -maxdepth 1 -iname MMMPEG32.dll | head -n 1)
fail() { echo "check-win32: $*" >&2; exit 1; }
[ -f "$exe" ] || fail "$exe is missing"
[ -n "$dll" ] || fail "MMMPEG32.DLL is missing from $bin"
for file in "$exe" "$dll"; do
  objdump -f "$file" | grep -q 'file format pei-i386' || fail "$file is not a 32-bit Windows image"
done

# The names the program binds: the library's entry points all begin with
# "mpeg_", and the binding code keeps each as a string of its own for
# GetProcAddress. Read from the program and from the 32-bit media library it
# links, whose MPEG reader is linked into the program only where it is used.
core="$(dirname "$bin")/libwc_core.a"
[ -f "$core" ] || fail "$core is missing"
bound=$(strings -a "$exe" "$core" | grep -xE 'mpeg_[A-Za-z0-9_]+' | sort -u)
# The library's export names, from its export table.
exported=$(objdump -p "$dll" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -oE '\] [^ ]+$' | cut -c3- | sort -u)
[ -n "$bound" ] || fail "found no bound name in $exe"
missing=$(comm -23 <(echo "$bound") <(echo "$exported"))
if [ -n "$missing" ]; then
  echo "check-win32: $(basename "$exe") binds names that $(basename "$dll") does not export:" >&2
  sed 's/^/  /' <<<"$missing" >&2
  decorated=$(grep -E '^_?mpeg_[A-Za-z0-9_]+@[0-9]+$' <<<"$exported" | head -n 5 || true)
  [ -z "$decorated" ] || { echo "  (the library exports decorated names, such as:" >&2; sed 's/^/    /' <<<"$decorated" >&2; echo "  )" >&2; }
  exit 1
fi
echo "check-win32: the 32-bit program's $(wc -l <<<"$bound") MMMPEG32.DLL bindings are all exported"
