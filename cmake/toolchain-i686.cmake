# Cross build for 32-bit Windows with the Debian mingw-w64 posix-thread compilers.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARNVALE_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-posix.cmake)
