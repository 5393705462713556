#!/usr/bin/env bash
# Checks plugin packages: each a zip archive whose entries are exactly package.ini and the
# plugin's files, in name order, every one deflated, named in plain ASCII and dated
# 2026-01-01 00:00:00 without extra fields (so that every build makes the same archive), whose package.ini has every
# key the voice client's installer reads, and whose two DLLs are of the package's plugin
# interface (check-dll.sh) and of their platform's architecture. Interface 26's package
# also carries the Linux library (check-so.sh) and names linux_amd64 among its platforms.
# The package of interface 4 is named sorlinx-<version>-interface4.ts3_plugin; any other
# is interface 26's.
# Usage: check-package.sh PACKAGE...
# The DLLs are read with $OBJDUMP, by default MinGW-w64's x86_64 one (it reads both).
set -euo pipefail
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
scripts=$(cd "$(dirname "$0")" && pwd)
[ $# -gt 0 ] || { echo "Usage: check-package.sh PACKAGE..."; exit 2; }
status=0

common_entries="package.ini
plugins/sorlinx/bruit.wav
plugins/sorlinx/rc.wav
plugins/sorlinx/rl.wav
plugins/sorlinx_win32.dll
plugins/sorlinx_win64.dll"

check_package() {
  local package=$1 interface=26 failed=0
  fail() { echo "FAIL: $package: $*"; failed=1; }
  [[ $(basename "$package") == *-interface4.ts3_plugin ]] && interface=4
  [ -f "$package" ] || { fail "no such file"; return 1; }
  local expected=$common_entries platforms="win32, win64" count=six
  if [ $interface = 26 ]; then
    expected=$(printf '%s\nplugins/sorlinx_linux_amd64.so\n' "$common_entries" | LC_ALL=C sort)
    platforms="win32, win64, linux_amd64"
    count=seven
  fi

  local entries
  entries=$(unzip -Z1 "$package")
  [ "$entries" = "$expected" ] ||
    fail "the entries, in the archive's order, are:"$'\n'"$entries"$'\n'"expected:"$'\n'"$expected"

  # Made the same on any machine: every entry dated 2026-01-01 00:00:00 in the zip's own
  # (local time) fields, none carrying the build machine's times or owner in extra fields.
  local details dates
  details=$(zipinfo -v "$package")
  dates=$(sed -n 's/^ *file last modified on (DOS date\/time): *//p' <<< "$details" | sort -u)
  [ "$dates" = "2026 Jan 1 00:00:00" ] || fail "the entries are not all dated 2026-01-01 00:00:00: $dates"
  if grep -qE 'UT extra field|Unix UID/GID|extra field contains' <<< "$details"; then
    fail "entries carry extra fields (the build machine's file times or owner)"
  fi

  # unzip -v: one line per entry, the method in the second column.
  local methods
  methods=$(unzip -v "$package" | awk 'NR > 3 && $2 ~ /^[A-Za-z]/ && NF >= 8 { print $2 }' | sort -u)
  [ "$methods" = "Defl:N" ] || fail "entries are not all deflated: $methods"
  if LC_ALL=C grep -q '[^ -~]' <<< "$entries"; then
    fail "an entry's name is not plain ASCII"
  fi

  local ini key
  ini=$(unzip -p "$package" package.ini | tr -d '\r')
  for key in Name Type Author Version Platforms Description; do
    grep -Eq "^$key = .+" <<< "$ini" || fail "package.ini has no \"$key = ...\" line"
  done
  grep -qx 'Type = Plugin' <<< "$ini" || fail "package.ini: Type is not Plugin"
  # The installer shows this name; the client then lists the plugin as "Ostrel Plugin".
  grep -qx 'Name = Ostrel Plugin (sorlinx)' <<< "$ini" ||
    fail "package.ini: the Name is not the one the voice client lists, with sorlinx beside it"
  grep -qx "Platforms = $platforms" <<< "$ini" || fail "package.ini: Platforms is not $platforms"
  grep -Eqx 'Description = ".+"' <<< "$ini" || fail "package.ini: the Description is not in double quotes"
  grep -Eqx 'Version = [0-9]+\.[0-9]+' <<< "$ini" || fail "package.ini: no version number"

  # A DLL of the other interface, or of the other architecture, would not load.
  local unpacked platform format
  unpacked=$(mktemp -d)
  unzip -q "$package" 'plugins/*.dll' 'plugins/*.so' -d "$unpacked" 2>/dev/null || true
  for platform in win32:pei-i386 win64:pei-x86-64; do
    format=${platform#*:}
    platform=${platform%%:*}
    local dll=$unpacked/plugins/sorlinx_$platform.dll
    [ -f "$dll" ] || continue  # reported with the entries
    grep -q "file format $format\$" <<< "$("$objdump" -f "$dll")" ||
      fail "sorlinx_$platform.dll is not a $format file"
    local report
    report=$("$scripts/check-dll.sh" "$objdump" "$dll" "$interface") ||
      fail "sorlinx_$platform.dll is not interface $interface's:"$'\n'"$report"
  done
  local library=$unpacked/plugins/sorlinx_linux_amd64.so report
  if [ -f "$library" ]; then
    report=$("$scripts/check-so.sh" "$library") ||
      fail "sorlinx_linux_amd64.so is not the Linux library of interface 26:"$'\n'"$report"
  fi
  rm -rf "$unpacked"

  [ $failed -eq 0 ] &&
    echo "OK: $package holds the $count files of interface $interface, deflated, and a complete package.ini"
  return $failed
}

for package in "$@"; do
  check_package "$package" || status=1
done
exit $status
