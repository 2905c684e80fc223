# Shared part of the MinGW-w64 cross toolchains (Debian's g++-mingw-w64-*-posix packages). The
# including file sets OSTRA_MINGW_TRIPLET first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

set(CMAKE_C_COMPILER ${OSTRA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSTRA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${OSTRA_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OSTRA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own run-time libraries are linked in, so that every program and library runs
# without the MinGW DLLs beside it (under wine as on a clinic's machine).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Libraries without a .def file export their own symbols only, not those of the archives.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--exclude-libs,ALL")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -Wl,--exclude-libs,ALL")

# Only the Qt-free and OpenCV-free libraries, with their tests (see cmake/WindowsChecks.cmake).
set(OSTRA_WINDOWS_CHECKS ON CACHE BOOL "Build the Windows checks only" FORCE)
