# Cross build for 32-bit Windows with MinGW-w64 (i686), the plug-in's real target.
# The win32 thread model is preferred: the module and its test host use only Win32
# threads, so nothing needs the winpthread library at run time.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(Q5_MINGW_TRIPLE i686-w64-mingw32)
find_program(Q5_MINGW_CXX NAMES ${Q5_MINGW_TRIPLE}-g++-win32 ${Q5_MINGW_TRIPLE}-g++
  ${Q5_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(Q5_MINGW_CC NAMES ${Q5_MINGW_TRIPLE}-gcc-win32 ${Q5_MINGW_TRIPLE}-gcc
  ${Q5_MINGW_TRIPLE}-gcc-posix)
find_program(Q5_MINGW_WINDRES NAMES ${Q5_MINGW_TRIPLE}-windres)

set(CMAKE_CXX_COMPILER ${Q5_MINGW_CXX})
if(Q5_MINGW_CC)
  set(CMAKE_C_COMPILER ${Q5_MINGW_CC})
endif()
if(Q5_MINGW_WINDRES)
  set(CMAKE_RC_COMPILER ${Q5_MINGW_WINDRES})
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${Q5_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run on Linux through wine.
find_program(Q5_WINE NAMES wine)
if(Q5_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${Q5_WINE})
endif()
