# The Windows product for 32-bit Windows, its target: the data source with its dialog and enhancement.
set(OSTRA_MINGW_TRIPLET i686-w64-mingw32)
set(OSTRA_WINDOWS_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/windows-common.cmake)
