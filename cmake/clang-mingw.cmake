# Cross-compiles the Windows program with Clang and LLVM's linker and resource compiler, against
# the same mingw-w64 headers and libraries as cmake/mingw.cmake, for the target and resource
# format that the including file names in `target` and `rc_target`.
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${target})

set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET ${target})
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${target})
find_program(CMAKE_RC_COMPILER NAMES llvm-windres llvm-windres-14 REQUIRED)
set(CMAKE_RC_FLAGS_INIT "--target=${rc_target}")

# Clang does not find Debian's C++ library for this target on its own: its folder is named after
# the thread model ("12-posix"), not a plain GCC version.
file(GLOB gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/${target}/*-posix)
list(SORT gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET gcc_dirs 0 gcc_dir)
set(cxx_includes "-isystem ${gcc_dir}/include/c++ -isystem ${gcc_dir}/include/c++/${target}")

# Doubles in SSE registers: the x87 unit's extra precision would round some halves differently
# (x86-64 does this anyway).
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse ${cxx_includes}")
# The posix thread model's runtime needs winpthread, which GCC's driver adds by itself; lld
# takes libraries in any order.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${gcc_dir} -lpthread")

set(CMAKE_FIND_ROOT_PATH /usr/${target})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
