#!/usr/bin/env bash
# Checks a shipped DLL: it exports exactly the names its plugin interface's voice client looks
# up (ten for interface 4; fourteen for the library of interfaces 19 to 26, which also hands
# the plugin its ID and shows the plugin's section of its info panel), undecorated, imports
# from Windows system DLLs only, carries its version resource, and no link time.
# Usage: check-dll.sh OBJDUMP DLL INTERFACE
set -euo pipefail
objdump=$1
dll=$2
interface=$3

expected_exports="ts3plugin_apiVersion
ts3plugin_author
ts3plugin_currentServerConnectionChanged
ts3plugin_description
ts3plugin_init
ts3plugin_name
ts3plugin_onConnectStatusChangeEvent
ts3plugin_setFunctionPointers
ts3plugin_shutdown
ts3plugin_version"
case $interface in
  4) count=ten ;;
  26)
    count=fourteen
    expected_exports=$(printf '%s\n' "$expected_exports" ts3plugin_registerPluginID \
      ts3plugin_infoTitle ts3plugin_infoData ts3plugin_freeMemory | sort)
    ;;
  *) echo "FAIL: no plugin interface $interface (4 or 26)"; exit 1 ;;
esac

# DLLs that every Windows installation has; anything else (the MinGW runtime, say) would
# have to be shipped beside the plugin and is refused.
allowed_imports='^(KERNEL32|USER32|msvcrt|ADVAPI32|api-ms-win-.*)\.dll$'

dump=$("$objdump" -p "$dll")
exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
if [ "$exports" != "$expected_exports" ]; then
  echo "FAIL: $dll exports:"; printf '%s\n' "$exports"
  echo "expected:"; printf '%s\n' "$expected_exports"
  exit 1
fi

imports=$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p')
status=0
while IFS= read -r name; do
  if ! [[ $name =~ $allowed_imports ]]; then
    echo "FAIL: $dll imports from $name, which is not a Windows system DLL"
    status=1
  fi
done <<< "$imports"

# Made the same by every build: the linker wrote no time into the PE header (its COFF
# header's time field, 4 bytes past the machine and section count).
pe_offset=$(od -An -tu4 -j60 -N4 "$dll" | tr -d ' ')
link_time=$(od -An -tu4 -j$((pe_offset + 8)) -N4 "$dll" | tr -d ' ')
if [ "$link_time" != 0 ]; then
  echo "FAIL: $dll carries the time of its link ($link_time), so no two builds are alike"
  status=1
fi

# The version resource: its texts are stored as UTF-16.
resource_texts=$(strings -el -n 3 "$dll")
for text in ProductName sorlinx ProductVersion FileDescription 0.8; do
  if ! grep -qx -- "$text" <<< "$resource_texts"; then
    echo "FAIL: $dll carries no version resource text \"$text\""
    status=1
  fi
done
[ $status -eq 0 ] && echo "OK: $dll exports the $count entry points of interface $interface and imports only:" $imports
exit $status
