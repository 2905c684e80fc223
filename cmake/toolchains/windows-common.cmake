# Shared part of the Windows product cross toolchains: Debian's MinGW-w64 (posix threads) with the Qt
# and OpenCV that scripts/windows-deps builds from Debian's sources into its cache. The including file
# sets OSTRA_MINGW_TRIPLET and OSTRA_WINDOWS_ARCH first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)
set(CMAKE_SYSTEM_PROCESSOR ${OSTRA_WINDOWS_ARCH})

set(CMAKE_C_COMPILER ${OSTRA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSTRA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${OSTRA_MINGW_TRIPLET}-windres)

# The dependency cache: $OSTRA_WINDOWS_DEPS_DIR names it directly, else the script names it (its
# folder depends on the package and compiler versions).
if(DEFINED ENV{OSTRA_WINDOWS_DEPS_DIR})
    set(OSTRA_WINDOWS_DEPS_DIR $ENV{OSTRA_WINDOWS_DEPS_DIR})
else()
    execute_process(
        COMMAND ${CMAKE_CURRENT_LIST_DIR}/../../scripts/windows-deps --dir ${OSTRA_WINDOWS_ARCH}
        OUTPUT_VARIABLE OSTRA_WINDOWS_DEPS_DIR
        OUTPUT_STRIP_TRAILING_WHITESPACE
    )
endif()
if(NOT EXISTS ${OSTRA_WINDOWS_DEPS_DIR}/complete.stamp)
    message(FATAL_ERROR "The Windows dependencies (Qt, OpenCV) for ${OSTRA_WINDOWS_ARCH} are not built at "
                        "${OSTRA_WINDOWS_DEPS_DIR}; build them with: scripts/windows-deps ${OSTRA_WINDOWS_ARCH}")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${OSTRA_MINGW_TRIPLET} ${OSTRA_WINDOWS_DEPS_DIR}/qt ${OSTRA_WINDOWS_DEPS_DIR}/opencv)
set(CMAKE_PREFIX_PATH ${OSTRA_WINDOWS_DEPS_DIR}/qt ${OSTRA_WINDOWS_DEPS_DIR}/opencv)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's DLLs use the compiler's run-time DLLs; so do ours, and the driver folder carries them once.
# Libraries without a .def file export their own symbols only, not those of the archives.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--exclude-libs,ALL")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-Wl,--exclude-libs,ALL")

set(OSTRA_WINDOWS_PRODUCT ON CACHE BOOL "The whole Windows product with Qt and OpenCV" FORCE)
