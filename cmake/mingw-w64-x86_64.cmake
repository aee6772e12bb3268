# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the -posix
# compilers, whose C++ library has std::thread), into static executables that
# need no DLL beyond the system's, run here under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KAIROVEL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KAIROVEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KAIROVEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KAIROVEL_MINGW_TRIPLE}-windres)
set(KAIROVEL_WINDMC ${KAIROVEL_MINGW_TRIPLE}-windmc)

set(CMAKE_FIND_ROOT_PATH /usr/${KAIROVEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No run-time DLLs of the compiler: the executables copy to a Windows machine alone.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and the discovery of their cases run the executables under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
