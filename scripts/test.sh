#!/usr/bin/env bash
# Every test: unit tests natively, again under ASan+UBSan and under TSan (each build also
# replays the fuzz targets' corpora and runs the stress test and, natively, the soak), the
# Windows builds of both plugin interfaces (4: win32, win64; 26: win32-interface26,
# win64-interface26) with their DLL checks, the end-to-end tests of each real DLL under wine
# and each interface's plugin package (a win64 build packs the DLL of its win32 build, so
# that one comes first), the static analysis, every fuzz target for 30 seconds, and the
# formatting of every source file.
#
# The 32-bit DLLs are the primary ones, so their end-to-end tests need a 32-bit wine: it is
# installed with the rest. Only where the package lists offer none does the run go on
# without those tests, and then its last line says that they did not run, and why.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages "${TEST_PACKAGES[@]}" --optional "$WINE32_PACKAGE"
cd "$top"

# Decided here once for the whole run: scripts/wine-run.sh runs the 32-bit tests with this
# wine, and skips them only when it is empty.
wine32_missing=${UNAVAILABLE[$WINE32_PACKAGE]-}
if [ -n "$wine32_missing" ]; then
  export SORLINX_WINE32=""
else
  export SORLINX_WINE32=/usr/lib/wine/wine
fi

# The end-to-end tests run in the project's own wine prefix; end its server when done so
# that no wine process outlives the run. A run without the 32-bit tests says so last, even
# when it stops early.
export SORLINX_WINEPREFIX="$top/build/wineprefix"
finish() {
  WINEPREFIX=$SORLINX_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
  if [ -n "$wine32_missing" ]; then
    echo "32-bit end to end: NOT RUN, because $wine32_missing"
  fi
}
trap finish EXIT

for preset in linux linux-asan linux-tsan win32 win64 win32-interface26 win64-interface26; do
  build_preset "$preset"
  ctest --preset "$preset"
done

"$top/scripts/static-analysis.sh"
"$top/scripts/fuzz.sh" 30
"$top/scripts/check-format.sh"
if [ -n "$wine32_missing" ]; then
  echo "All the tests that could run passed."
else
  echo "All tests passed."
fi
