# The 32-bit Windows program, built with mingw-w64's GCC.
set(target i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
