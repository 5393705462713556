# The native Linux programs and the Linux library run on every glibc from 2.17 on (the
# baseline of portable Linux binaries, CentOS 7 and every distribution since), wherever they
# are built: src/glibc_baseline.cpp says how. scripts/check-so.sh checks the result.
#
#   sorlinx_glibc_baseline(TARGET)
#
# The C++ runtime goes inside (-static-libstdc++): the voice client may bring another one.
# The unwinder stays libgcc_s's, which every system has: the static one asks glibc for
# _dl_find_object (2.35).
set(SORLINX_GLIBC_BASELINE_WRAPPED
  pthread_create pthread_detach pthread_join pthread_once pthread_key_create
  __pthread_key_create pthread_key_delete pthread_getspecific pthread_setspecific
  pthread_rwlock_rdlock pthread_rwlock_wrlock pthread_rwlock_unlock pthread_sigmask
  pthread_cond_clockwait getentropy arc4random)

# And for the programs: how they start, the mathematics glibc renewed since, and the stat
# functions it made functions of its own.
set(SORLINX_GLIBC_BASELINE_WRAPPED_IN_PROGRAMS __libc_start_main pow exp log hypot
  stat lstat fstat fstat64)

function(sorlinx_glibc_baseline target)
  target_sources(${target} PRIVATE "${PROJECT_SOURCE_DIR}/src/glibc_baseline.cpp")
  set(names ${SORLINX_GLIBC_BASELINE_WRAPPED})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    list(APPEND names ${SORLINX_GLIBC_BASELINE_WRAPPED_IN_PROGRAMS})
    set_source_files_properties("${PROJECT_SOURCE_DIR}/src/glibc_baseline.cpp"
      TARGET_DIRECTORY ${target} PROPERTIES COMPILE_DEFINITIONS SORLINX_PROGRAM)
  endif()
  set(wraps "")
  foreach(name IN LISTS names)
    list(APPEND wraps "-Wl,--wrap=${name}")
  endforeach()
  target_link_options(${target} PRIVATE -static-libstdc++ -shared-libgcc ${wraps})
  # The pthread functions lived in libpthread before glibc 2.34: name it, even though this
  # glibc's libpthread is empty and the linker would otherwise drop it.
  target_link_libraries(${target} PRIVATE
    "-Wl,--push-state,--no-as-needed" "-l:libpthread.so.0" "-Wl,--pop-state")
endfunction()
