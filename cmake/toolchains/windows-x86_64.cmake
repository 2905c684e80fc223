# The Windows product for 64-bit Windows: the same program, run under wine64 where wine32 cannot be
# installed.
set(OSTRA_MINGW_TRIPLET x86_64-w64-mingw32)
set(OSTRA_WINDOWS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/windows-common.cmake)
