# What both cross builds share: the Debian mingw-w64 posix-thread compilers
# for the triplet that the architecture's toolchain file sets, and Wine to run
# what they build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${TARNVALE_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARNVALE_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${TARNVALE_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TARNVALE_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The Wine loader of the architecture: 64-bit programs go straight to wine64
# (plain "wine" would start the 32-bit loader first once wine32 is there);
# 32-bit programs go through "wine", which picks the 32-bit loader.
if(TARNVALE_TRIPLET STREQUAL "x86_64-w64-mingw32" AND EXISTS /usr/lib/wine/wine64)
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
    set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
