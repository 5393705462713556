#!/usr/bin/env bash
# Every test: unit tests natively, again under ASan+UBSan and under TSan (each build also
# replays the fuzz targets' corpora and runs the stress test and, natively, the soak), the
# Windows builds with their DLL checks, the end-to-end tests of the real DLL under wine and
# the plugin package (win64 packs the DLL of win32, so win32 comes first), the static
# analysis, every fuzz target for 30 seconds, and the formatting of every source file.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages "${TEST_PACKAGES[@]}"
cd "$top"

# The end-to-end tests run in the project's own wine prefix; end its server when done so
# that no wine process outlives the run.
export SORLINX_WINEPREFIX="$top/build/wineprefix"
trap 'WINEPREFIX=$SORLINX_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

for preset in linux linux-asan linux-tsan win32 win64; do
  build_preset "$preset"
  ctest --preset "$preset"
done

"$top/scripts/static-analysis.sh"
"$top/scripts/fuzz.sh" 30
"$top/scripts/check-format.sh"
echo "All tests passed."
