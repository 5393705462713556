#!/usr/bin/env bash
# Every test: the install helpers and the levels of src/, unit tests natively, again under ASan+UBSan and under TSan (each build also
# replays the fuzz targets' corpora and runs the stress test and, natively, the soak), the
# Windows builds of both plugin interfaces (4: win32, win64; 26: win32-interface26,
# win64-interface26) with their DLL checks, the end-to-end tests of each real DLL under wine
# and each interface's plugin package (a win64 build packs the DLL of its win32 build, so
# that one comes first; interface 26's also the Linux library), the Linux library
# (linux-so) with its checks and its end-to-end tests on a private Xvfb display, with xclip
# and with win64's sorlinx-send under wine as the game, the static analysis, every fuzz
# target for 30 seconds, and the formatting of every source file.
#
# The 32-bit DLLs are the primary ones, so their end-to-end tests need a 32-bit wine: it is
# installed with the rest. Only where the package lists offer none does the run go on
# without those tests, and then its last line says that they did not run, and why.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
# First what needs nothing installed: the install helpers this run is about to rely on, and
# the levels of the source tree.
"$top/tests/scripts/lib_test.sh"
"$top/scripts/check-levels.sh"
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
xvfb_pid=""
finish() {
  WINEPREFIX=$SORLINX_WINEPREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
  WINEPREFIX=$top/build/linux-so/wineprefix-proton /usr/lib/wine/wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  if [ -n "$wine32_missing" ]; then
    echo "32-bit end to end: NOT RUN, because $wine32_missing"
  fi
}
trap finish EXIT

# The Linux library's tests get an X server of their own, on a display number no other
# server uses (Xvfb picks it and writes it once it accepts connections). Only they see it:
# the Windows tests keep wine's own clipboard, away from X. -noreset: a server that resets
# when its last client leaves drops a connection made at that moment, as a test's is when
# the one before it has just shut the plugin down.
display_file=$(mktemp)
Xvfb -nolisten tcp -noreset -displayfd 3 3>"$display_file" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$display_file" ] && break
  sleep 0.1
done
x_display=:$(cat "$display_file")
rm -f "$display_file"
[ "$x_display" != ":" ] || { echo "Xvfb did not start"; exit 1; }

# win64 comes before linux-so, whose Proton case runs its sorlinx-send; linux-so before
# win64-interface26, whose package carries the Linux library.
for preset in linux linux-asan linux-tsan win32 win64 linux-so win32-interface26 win64-interface26; do
  build_preset "$preset"
  if [ "$preset" = linux-so ]; then
    DISPLAY=$x_display ctest --preset "$preset"
  elif [[ $preset == linux* ]]; then
    # Two at a time: the simulator's real-time runs mostly wait on the clock.
    env -u DISPLAY ctest --preset "$preset" --parallel 2
  else
    env -u DISPLAY ctest --preset "$preset"
  fi
done

"$top/scripts/static-analysis.sh"
"$top/scripts/fuzz.sh" 30
"$top/scripts/check-format.sh"
if [ -n "$wine32_missing" ]; then
  echo "All the tests that could run passed."
else
  echo "All tests passed."
fi
