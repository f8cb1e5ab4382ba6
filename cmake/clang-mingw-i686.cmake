# The 32-bit Windows program, built with Clang.
set(target i686-w64-mingw32)
set(rc_target pe-i386)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
