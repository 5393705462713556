#!/usr/bin/env bash
# Checks the shipped Linux library: an x86-64 ELF shared object that exports exactly the
# fourteen functions interface 26's voice client looks up and nothing else, carries its C++
# runtime inside (no libstdc++), needs at run time only glibc, libgcc_s, and the X11 client
# libraries of its clipboard, and loads on every glibc from 2.17 on: no import of a newer
# glibc version, and every library an import lived in on glibc 2.17 named among the needed
# ones (glibc 2.34 moved libpthread's, libdl's and librt's functions into libc; a library
# that leans on that finds no pthread_create on an older system).
# With --program, checks a native Linux program the same way, but for the exports.
# Usage: check-so.sh LIBRARY
#        check-so.sh --program PROGRAM
set -euo pipefail
program=false
if [ "${1-}" = --program ]; then
  program=true
  shift
fi
library=$1

# The oldest glibc it must load on, and the libgcc_s of the systems that came with it
# (GCC 4.8).
glibc_baseline=2.17
gcc_baseline=4.8.0

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

# What every Linux desktop has: glibc's parts, the unwinder, and libxcb with its XFixes
# extension.
allowed_needed='^(libc|libm|libpthread|libdl|librt|ld-linux-x86-64|libgcc_s|libxcb|libxcb-xfixes)\.so\.[0-9.]+$'

status=0
fail() { echo "FAIL: $library: $*"; status=1; }

header=$(readelf -h "$library")
if $program; then
  grep -q 'Type:.*\(DYN\|EXEC\)' <<< "$header" || fail "not a program"
else
  grep -q 'Type:.*DYN' <<< "$header" || fail "not a shared object"
fi
grep -q 'Machine:.*X86-64' <<< "$header" || fail "not built for x86-64"

if ! $program; then
  # Defined functions and objects in the dynamic symbol table: the exports.
  exports=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TDBRVWiu]$/ { print $3 }' | sort)
  if [ "$exports" != "$expected_exports" ]; then
    fail "it exports:"$'\n'"$exports"$'\n'"expected:"$'\n'"$expected_exports"
  fi
fi

needed=$(readelf -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
while IFS= read -r name; do
  [[ $name =~ $allowed_needed ]] || fail "it needs $name at run time"
done <<< "$needed"
if ! $program; then
  grep -qx 'libxcb-xfixes.so.0' <<< "$needed" || fail "it does not link libxcb-xfixes"
fi

# Whether version a.b.c is newer than b.
newer() {
  [ "$1" != "$2" ] && [ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -n1)" = "$1" ]
}

# The library in which glibc 2.17 defined a function that a later glibc moved into libc;
# nothing for the others, which stayed where the linker found them.
home_on_baseline() {
  case $1 in
    pthread_* | __pthread_* | sem_*) echo libpthread.so.0 ;;
    dlopen | dlclose | dlsym | dlvsym | dlerror | dladdr | dladdr1 | dlinfo | dlmopen) echo libdl.so.2 ;;
    aio_* | lio_listio* | mq_* | shm_open | shm_unlink | timer_*) echo librt.so.1 ;;
    openpty | forkpty | login | login_tty | logout | logwtmp) echo libutil.so.1 ;;
    getaddrinfo_a | gai_*) echo libanl.so.1 ;;
  esac
}

# Every import bound to a version (weak ones without a version need nothing).
while read -r kind symbol; do
  [ "$kind" = U ] || continue
  name=${symbol%%@*}
  version=${symbol#*@}
  [ "$version" != "$symbol" ] || continue
  case $version in
    GLIBC_*)
      newer "${version#GLIBC_}" "$glibc_baseline" &&
        fail "it imports $name@$version, newer than GLIBC_$glibc_baseline"
      home=$(home_on_baseline "$name")
      if [ -n "$home" ] && ! grep -qx "$home" <<< "$needed"; then
        fail "it imports $name, which glibc $glibc_baseline keeps in $home; that is not among its needed libraries"
      fi
      ;;
    GCC_*)
      newer "${version#GCC_}" "$gcc_baseline" &&
        fail "it imports $name@$version, newer than GCC_$gcc_baseline"
      grep -qx 'libgcc_s.so.1' <<< "$needed" ||
        fail "it imports $name@$version, but libgcc_s.so.1 is not among its needed libraries"
      ;;
    GLIBCXX_* | CXXABI_*)
      # The voice client may bring another C++ runtime: nothing of it may bind at run time.
      fail "it leaves $name@$version of the C++ runtime to the process"
      ;;
  esac
done < <(nm -D --undefined-only "$library" | awk '{ print $(NF-1), $NF }')

if [ $status -eq 0 ]; then
  $program || echo "OK: $library exports the fourteen entry points of interface 26."
  echo "OK: $library loads on glibc $glibc_baseline and later, and needs only:" $needed
fi
exit $status
