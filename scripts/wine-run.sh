#!/usr/bin/env bash
# Runs a Windows program under wine, in the project's own wine prefix, quietly. It is the
# cross-compiling emulator of the Windows builds, so CTest runs their tests through it.
# A 32-bit program where no 32-bit wine exists is skipped with exit code 77.
set -euo pipefail
exe=$1
shift
top=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${SORLINX_WINEPREFIX:-$top/build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# The PE header's machine field: 014c is i386, 8664 is x86-64.
pe_offset=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$exe" | tr -d ' ')
if [ "$machine" = "014c" ]; then
  if [ -x /usr/lib/wine/wine ]; then
    exec /usr/lib/wine/wine "$exe" "$@"
  fi
  echo "SKIPPED: $(basename "$exe") is a 32-bit program and this machine has no 32-bit wine" >&2
  exit 77
fi
exec /usr/lib/wine/wine64 "$exe" "$@"
