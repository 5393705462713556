# Two builds of the same commit give the same files, byte for byte, wherever the clone sits
# and whenever it is built, so that anyone can check a shipped file against dist/SHA256SUMS
# by building it again.
#
# Paths: the compiler writes source paths into what it makes (__FILE__, debug information);
# they are written relative to the clone (the build folders sit inside it, under build/).
add_compile_options("-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=")
# Time: MinGW's linker stamps every DLL and program with the time of the link unless told
# not to; the PE header's time field then reads 0. (The packages' dates are fixed in
# packaging/make_package.cmake.)
if(MINGW)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
