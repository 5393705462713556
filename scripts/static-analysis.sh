#!/usr/bin/env bash
# Static analysis of the plugin (src/) and its tools (tools/): clang-tidy with the checks of
# .clang-tidy, and cppcheck with the suppressions of .cppcheck-suppressions. Any finding
# fails the run.
#
# The native build's compile commands cover the portable code; the Linux library's build
# its X11 files and the native Linux programs; the Windows-only files (the Win32 clipboard,
# the secrets file, the client's version resource, sorlinx-send's main, the simulator's live
# console) are checked as the win64 build compiles them, and the cue sound generator, which
# CMake builds outside its targets, with
# the flags it is built with.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
require_packages "${BUILD_PACKAGES[@]}" "${ANALYSIS_PACKAGES[@]}"
cd "$top"
jobs=$(nproc)

# Configuring is enough: it writes the compile commands and the generated headers.
for preset in linux linux-so win64; do
  cmake --preset "$preset" >/dev/null
done

native_files() {
  grep -o '"file": *"[^"]*"' build/linux/compile_commands.json | sed 's/.*"\([^"]*\)"$/\1/' |
    grep -E "^$top/(src|tools)/" | sort -u
}
windows_only=(src/clipboard/clipboard_win32.cpp src/clipboard/clipboard_notices_win32.cpp
  src/commands/secrets_file_win32.cpp
  src/interfaces/interface4_exports.cpp src/interfaces/client_version_win32.cpp
  tools/send/main.cpp tools/sim/live_platform_win32.cpp)

# Runs one clang-tidy command with its output in the log, and shows the findings on failure.
log=build/clang-tidy.log
: >"$log"
tidy() {
  if ! "$@" >>"$log" 2>&1; then
    sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E 'warning:|error:' -A3 >&2 || cat "$log" >&2
    echo "FAILED: clang-tidy found something (log: $log)" >&2
    exit 1
  fi
}

echo "--- clang-tidy"
mapfile -t files < <(native_files)
tidy run-clang-tidy-14 -p build/linux -j "$jobs" -quiet "${files[@]}"
# The Linux library's own platform files and the native Linux programs', from the build that
# compiles them.
linux_only=(src/clipboard/clipboard_x11.cpp
  src/glibc_baseline.cpp tools/send/main.cpp tools/send/player_clipboard_x11.cpp
  tools/sim/live_clipboard.cpp tools/sim/live_platform_x11.cpp)
tidy clang-tidy-14 -p build/linux-so -quiet "${linux_only[@]}"
tidy clang-tidy-14 -quiet tools/cue_sounds/make_cue_sounds.cpp -- -std=c++20
# The MinGW compiler's own C++ headers, which clang does not find by itself for the
# -posix flavour of the cross compiler.
mingw_includes=()
while read -r folder; do
  mingw_includes+=(-isystem "$folder")
done < <(x86_64-w64-mingw32-g++-posix -xc++ -E -v - </dev/null 2>&1 |
  sed -n '/#include <...> search starts here:/,/End of search list./p' | grep '^ /.*c++')
tidy clang-tidy-14 -quiet "${windows_only[@]}" -- --target=x86_64-w64-mingw32 -std=c++20 \
  "${mingw_includes[@]}" -Isrc -Itools/send -Ibuild/win64/src/generated \
  -DWIN32_LEAN_AND_MEAN -DNOMINMAX
echo "clang-tidy: ${#files[@]} native files, ${#linux_only[@]} of the Linux library and programs, ${#windows_only[@]} Windows files and the cue sound generator, no finding."

echo "--- cppcheck"
for preset in linux win64; do
  cppcheck --project="build/$preset/compile_commands.json" --file-filter='src/*' \
    --file-filter='tools/*' --std=c++20 --enable=warning,style,performance,portability \
    --suppressions-list=.cppcheck-suppressions --inline-suppr --error-exitcode=1 --quiet \
    -j "$jobs" --template='{file}:{line}: {severity}: {message} [{id}]'
done
cppcheck --project=build/linux-so/compile_commands.json --file-filter='src/clipboard/*_x11.cpp' \
  --file-filter='src/glibc_baseline.cpp' --file-filter='tools/*/*_x11.cpp' \
  --file-filter='tools/sim/live_clipboard.cpp' \
  --std=c++20 --enable=warning,style,performance,portability \
  --suppressions-list=.cppcheck-suppressions --inline-suppr --error-exitcode=1 --quiet \
  --template='{file}:{line}: {severity}: {message} [{id}]'
echo "cppcheck: the native, the Linux library's and the Windows build's files of src/ and tools/, no finding."
