# Cross build for 64-bit Windows with the Debian mingw-w64 posix-thread compilers.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARNVALE_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-posix.cmake)
