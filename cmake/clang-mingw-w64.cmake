# Cross-compiling the 32-bit "Kestlo desktop.exe" with Debian's clang and lld
# (packages clang, lld) over the same MinGW-w64 headers, C runtime and GCC's
# libstdc++ that the GNU build uses (g++-mingw-w64-i686-win32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(triple i686-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES clang++ REQUIRED)
set(CMAKE_CXX_COMPILER_TARGET ${triple})
find_program(CMAKE_RC_COMPILER NAMES ${triple}-windres REQUIRED)

# clang's driver looks for GCC's MinGW install under a plain version folder;
# Debian's is /usr/lib/gcc/i686-w64-mingw32/<version>-win32, so say where.
file(GLOB gcc_folders /usr/lib/gcc/${triple}/*-win32)
list(SORT gcc_folders)
list(POP_BACK gcc_folders gcc_folder)
if(NOT gcc_folder)
  message(FATAL_ERROR "No /usr/lib/gcc/${triple}/*-win32: install g++-mingw-w64-i686-win32")
endif()
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${gcc_folder}/include/c++ -isystem ${gcc_folder}/include/c++/${triple} -isystem ${gcc_folder}/include/c++/backward")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${gcc_folder}")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
