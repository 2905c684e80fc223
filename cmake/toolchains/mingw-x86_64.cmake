# 64-bit Windows: the same libraries, with the tests run under wine64.
set(OSTRA_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
find_program(OSTRA_WINE NAMES wine64 wine)
if(OSTRA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${OSTRA_WINE})
endif()
