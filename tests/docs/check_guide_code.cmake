# Fails unless the guide GUIDE holds the file FILE verbatim, as a ```cpp block whose text is
# the whole file: the code a game author copies from the guide is the code the Windows
# builds compile and run.
# Usage: cmake -DGUIDE=docs/protocol.md -DFILE=examples/game_clipboard_win32.cpp -P check_guide_code.cmake
file(READ "${GUIDE}" guide)
file(READ "${FILE}" code)
string(FIND "${guide}" "```cpp\n${code}```\n" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${GUIDE} does not hold ${FILE} as it stands: copy the file into its ```cpp block")
endif()
message(STATUS "OK: ${GUIDE} holds ${FILE} as it stands")
