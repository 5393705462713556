#!/usr/bin/env bash
# Checks the shipped Linux library: an x86-64 ELF shared object that exports exactly the
# fourteen functions interface 26's voice client looks up and nothing else, carries its C++
# runtime inside (no libstdc++, no libgcc_s), and needs at run time only the C library and
# the X11 client libraries of its clipboard.
# Usage: check-so.sh LIBRARY
set -euo pipefail
library=$1

expected_exports="ts3plugin_apiVersion
ts3plugin_author
ts3plugin_currentServerConnectionChanged
ts3plugin_description
ts3plugin_freeMemory
ts3plugin_infoData
ts3plugin_infoTitle
ts3plugin_init
ts3plugin_name
ts3plugin_onConnectStatusChangeEvent
ts3plugin_registerPluginID
ts3plugin_setFunctionPointers
ts3plugin_shutdown
ts3plugin_version"

# What every Linux desktop has: glibc's parts, and libxcb with its XFixes extension (and
# what libxcb itself pulls in, should the linker ever name those).
allowed_needed='^(libc|libm|libpthread|libdl|librt|ld-linux-x86-64|libxcb|libxcb-xfixes|libXau|libXdmcp)\.so\.[0-9.]+$'

status=0
fail() { echo "FAIL: $library: $*"; status=1; }

header=$(readelf -h "$library")
grep -q 'Type:.*DYN' <<< "$header" || fail "not a shared object"
grep -q 'Machine:.*X86-64' <<< "$header" || fail "not built for x86-64"

# Defined functions and objects in the dynamic symbol table: the exports.
exports=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TDBRVWiu]$/ { print $3 }' | sort)
if [ "$exports" != "$expected_exports" ]; then
  fail "it exports:"$'\n'"$exports"$'\n'"expected:"$'\n'"$expected_exports"
fi

needed=$(readelf -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
while IFS= read -r name; do
  [[ $name =~ $allowed_needed ]] || fail "it needs $name at run time"
done <<< "$needed"
grep -qx 'libxcb-xfixes.so.0' <<< "$needed" || fail "it does not link libxcb-xfixes"

# Nothing of the C++ runtime may be left to bind at run time, in case the voice client
# brings another one: no symbol of libstdc++'s or libgcc's versions. (glibc's own
# __cxa_atexit and the weak hooks every shared object has are fine.)
undefined=$(nm -D --undefined-only "$library")
runtime=$(grep -E '@(GLIBCXX|CXXABI|GCC)_' <<< "$undefined" || true)
[ -z "$runtime" ] || fail "it leaves C++ runtime symbols to the voice client:"$'\n'"$runtime"

[ $status -eq 0 ] && echo "OK: $library exports the fourteen entry points of interface 26 and needs only:" $needed
exit $status
