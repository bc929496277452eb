# Cross-builds the Windows program on Linux with mingw-w64 (64-bit):
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QG_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QG_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QG_MINGW_TRIPLET}-g++)
set(CMAKE_RC_COMPILER ${QG_MINGW_TRIPLET}-windres)

# Headers and libraries come from the cross toolchain only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QG_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
