#!/usr/bin/env bash
# Every test: unit tests natively, again under ASan+UBSan and under TSan (each build also
# replays the fuzz targets' corpora and runs the stress test and, natively, the soak), the
# Windows builds with their DLL checks and the end-to-end tests of the real DLL under wine,
# the static analysis, every fuzz target for 30 seconds, and the formatting of every
# source file.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages "${TEST_PACKAGES[@]}"
cd "$top"

# The end-to-end tests run in the project's own wine prefix; end its server when done so
# that no wine process outlives the run.
export SORLINX_WINEPREFIX="$top/build/wineprefix"
trap 'WINEPREFIX=$SORLINX_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

for preset in linux linux-asan linux-tsan win64 win32; do
  build_preset "$preset"
  ctest --preset "$preset"
done

"$top/scripts/static-analysis.sh"
"$top/scripts/fuzz.sh" 30
"$top/scripts/check-format.sh"
echo "All tests passed."
