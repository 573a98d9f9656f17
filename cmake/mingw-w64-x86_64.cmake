# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers (g++-mingw-w64-x86-64-posix).
# The posix thread model is the one whose C++ runtime has std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(EK_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${EK_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${EK_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${EK_MINGW_TARGET}-windres)

# Libraries, headers and packages come from the target's own tree (and from prefixes that the
# caller adds with CMAKE_FIND_ROOT_PATH), never from the build machine's /usr.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${EK_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs of the build run through Wine: test discovery and the tests that CTest starts. Debian
# keeps the 64-bit loader in /usr/lib/wine; its /usr/bin/wine only chooses a loader.
find_program(EK_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(EK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${EK_WINE})
endif()
