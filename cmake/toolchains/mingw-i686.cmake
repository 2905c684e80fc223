# 32-bit Windows, the product's target: compile and link checks (the 32-bit layouts, the export).
set(OSTRA_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
