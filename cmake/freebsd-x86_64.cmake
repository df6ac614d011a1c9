# Cross builds for FreeBSD on x86_64, with clang and lld, against a FreeBSD
# base that the user supplies (its /usr/include, /lib and /usr/lib, and in
# /usr/local whatever the build needs: SQLite, and GoogleTest for the tests):
#
#   cmake -S . -B build/freebsd -DCMAKE_TOOLCHAIN_FILE=cmake/freebsd-x86_64.cmake \
#         -DCMAKE_SYSROOT=/path/to/base [-DCMAKE_CXX_COMPILER=clang++-19]
#
# The compiler must know the base's libc++ (FreeBSD 13.5 and 14 ship LLVM 19).
# Nothing built can run here, so the tests are listed only when ctest runs on
# FreeBSD.
set(CMAKE_SYSTEM_NAME FreeBSD)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

if(NOT CMAKE_SYSROOT)
  message(FATAL_ERROR "A FreeBSD cross build needs the base: -DCMAKE_SYSROOT=/path/to/base")
endif()

set(VANDREL_FREEBSD_TARGET x86_64-unknown-freebsd13.5
    CACHE STRING "The clang target of the FreeBSD cross build")
if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER clang++)
endif()
set(CMAKE_CXX_COMPILER_TARGET ${VANDREL_FREEBSD_TARGET})
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -fuse-ld=lld)

# Headers, libraries and CMake packages come from the base only; programs
# (the compiler, ninja) from this machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
