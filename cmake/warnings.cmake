# Warnings for the project's own code. Warnings are errors through the presets
# (CMAKE_COMPILE_WARNING_AS_ERROR), so every build is held to them.
# The list is kept in a variable as well, for the one program compiled outside CMake's
# targets (the cue sound generator, built for the build machine).
set(SORLINX_WARNING_FLAGS
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wcast-qual
  -Wformat=2 -Wimplicit-fallthrough)
add_library(sorlinx_warnings INTERFACE)
target_compile_options(sorlinx_warnings INTERFACE ${SORLINX_WARNING_FLAGS})
