# Builds the voice client's plugin package: a zip archive holding package.ini at its root
# and the plugin's files under plugins/. Run as a script:
#
#   cmake -DPACKAGE_INI=... -DWIN32_DLL=... -DWIN64_DLL=... [-DLINUX_SO=...] -DSOUNDS_DIR=...
#         -DSTAGE_DIR=... -DOUTPUT=... -P make_package.cmake
#
# LINUX_SO, the Linux library, goes into interface 26's package only.
# Only files are listed, never folders, so every entry of the archive is deflated. The same
# inputs give the same archive byte for byte, on any machine: the entries go in name order,
# each with the same date, 2026-01-01 00:00:00 (a zip keeps local time, so the archiver runs
# in UTC), and fixed permissions (the libraries executable, as the linker makes them), and without the extra fields that would carry the build
# machine's file times and owner (zip -X).
foreach(input PACKAGE_INI WIN32_DLL WIN64_DLL SOUNDS_DIR STAGE_DIR OUTPUT)
  if(NOT DEFINED ${input})
    message(FATAL_ERROR "make_package.cmake needs -D${input}=...")
  endif()
endforeach()
foreach(file "${WIN32_DLL}" "${WIN64_DLL}" "${PACKAGE_INI}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "The package needs ${file}: build the 32-bit preset of the same "
      "name first (win32 before win64, win32-interface26 before win64-interface26, and so on).")
  endif()
endforeach()
if(LINUX_SO AND NOT EXISTS "${LINUX_SO}")
  message(FATAL_ERROR "The package needs ${LINUX_SO}: build the linux-so preset first "
    "(dist-linux before dist-win64-interface26).")
endif()

file(REMOVE_RECURSE "${STAGE_DIR}")
file(MAKE_DIRECTORY "${STAGE_DIR}/plugins/sorlinx")
# The voice client reads package.ini with Windows line ends.
file(READ "${PACKAGE_INI}" ini)
string(REPLACE "\r\n" "\n" ini "${ini}")
string(REPLACE "\n" "\r\n" ini "${ini}")
file(WRITE "${STAGE_DIR}/package.ini" "${ini}")
file(COPY "${WIN32_DLL}" "${WIN64_DLL}" DESTINATION "${STAGE_DIR}/plugins")
set(entries package.ini plugins/sorlinx_win32.dll plugins/sorlinx_win64.dll)
if(LINUX_SO)
  file(COPY "${LINUX_SO}" DESTINATION "${STAGE_DIR}/plugins")
  list(APPEND entries plugins/sorlinx_linux_amd64.so)
endif()
foreach(sound rc.wav rl.wav bruit.wav)
  if(NOT EXISTS "${SOUNDS_DIR}/${sound}")
    message(FATAL_ERROR "The package needs ${SOUNDS_DIR}/${sound}")
  endif()
  file(COPY "${SOUNDS_DIR}/${sound}" DESTINATION "${STAGE_DIR}/plugins/sorlinx")
  list(APPEND entries plugins/sorlinx/${sound})
endforeach()

list(SORT entries)
set(ENV{TZ} UTC)
foreach(entry ${entries})
  set(executable "")
  if(entry MATCHES "\\.(dll|so)$")
    set(executable OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
  endif()
  file(CHMOD "${STAGE_DIR}/${entry}"
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ ${executable})
endforeach()
file(REMOVE "${OUTPUT}")
execute_process(
  COMMAND touch -d "2026-01-01 00:00:00 UTC" ${entries}
  WORKING_DIRECTORY "${STAGE_DIR}"
  RESULT_VARIABLE failed)
if(NOT failed)
  execute_process(
    COMMAND zip -X -D -q "${OUTPUT}" ${entries}
    WORKING_DIRECTORY "${STAGE_DIR}"
    RESULT_VARIABLE failed)
endif()
if(failed)
  message(FATAL_ERROR "Could not write ${OUTPUT}")
endif()
message(STATUS "Plugin package: ${OUTPUT}")
