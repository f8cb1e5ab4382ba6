# The 64-bit Windows program, built with Clang.
set(target x86_64-w64-mingw32)
set(rc_target pe-x86-64)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
