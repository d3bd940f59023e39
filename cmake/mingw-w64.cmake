# Cross-builds Sarvik.exe, a Windows console program, with Debian's MinGW-w64
# (apt-get install g++-mingw-w64-x86-64):
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#   cmake --build build/windows
# The POSIX-threads variant of the compiler, so that std::thread works; linked
# statically, so that the program needs no DLL beside it. Where wine is present,
# ctest in that build runs the end-to-end cases with the program under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SARVIK_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${SARVIK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SARVIK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SARVIK_MINGW_PREFIX}-windres)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_FIND_ROOT_PATH /usr/${SARVIK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# What runs the program on this machine: wine (Debian's wine and wine64 packages).
find_program(SARVIK_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(SARVIK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SARVIK_WINE})
endif()
