# Cross-compiling for Windows on Linux with Debian's MinGW-w64. The product,
# "Kestlo desktop.exe", is 32-bit x86 (packages g++-mingw-w64-i686-win32,
# binutils-mingw-w64-i686). KESTLO_TARGET_TRIPLE=x86_64-w64-mingw32 makes the
# 64-bit test build that runs under Wine where 32-bit programs cannot
# (g++-mingw-w64-x86-64-win32, binutils-mingw-w64-x86-64).
set(CMAKE_SYSTEM_NAME Windows)

if(NOT KESTLO_TARGET_TRIPLE)
  set(KESTLO_TARGET_TRIPLE i686-w64-mingw32)
endif()
set(triple ${KESTLO_TARGET_TRIPLE})
if(triple MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()
find_program(CMAKE_CXX_COMPILER NAMES ${triple}-g++-win32 ${triple}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${triple}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
