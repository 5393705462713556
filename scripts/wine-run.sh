#!/usr/bin/env bash
# Runs a Windows program under wine, in the project's own wine prefix, quietly. It is the
# cross-compiling emulator of the Windows builds, so CTest runs their tests through it.
# A 32-bit program where no 32-bit wine exists is skipped with exit code 77.
#
# SORLINX_WINE32, when set, is the 32-bit wine to use, as scripts/test.sh decided it: empty
# means none (skip), and a path that does not run is an error, never a skip.
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
  wine32=${SORLINX_WINE32-/usr/lib/wine/wine}
  if [ -n "${SORLINX_WINE32-}" ] || [ -x "$wine32" ]; then
    exec "$wine32" "$exe" "$@"
  fi
  echo "SKIPPED: $(basename "$exe") is a 32-bit program and this machine has no 32-bit wine" >&2
  exit 77
fi
exec /usr/lib/wine/wine64 "$exe" "$@"
