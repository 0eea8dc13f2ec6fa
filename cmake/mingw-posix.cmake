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
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
