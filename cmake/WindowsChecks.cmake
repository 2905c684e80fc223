# The Windows checks, cross-built with MinGW-w64 (cmake/toolchains/mingw-*.cmake): the libraries
# that need neither Qt nor OpenCV (platform, support, protocol types and dispatch, the USB and SDK
# parts of the device layer, the DSM stand-in, the simulator) and their tests. The 32-bit build
# checks the structure layouts at compile time and the undecorated DS_Entry export; the 64-bit build
# runs the tests under wine64 (CMAKE_CROSSCOMPILING_EMULATOR).

include(${CMAKE_CURRENT_LIST_DIR}/HostHeaders.cmake)

set(OSTRA_TWAIN_FOLDER ${PROJECT_BINARY_DIR}/twain/OstraSensor CACHE INTERNAL "")

add_subdirectory(platform)
add_subdirectory(support)
add_subdirectory(source/twpp)
add_subdirectory(sensor-sim)
add_subdirectory(dsm)

# The parts of the device layer that need neither Qt nor the image records: the SDK binding, the
# USB listener and the work folders.
ostra_library(ostra_device_portable
    SOURCES
        device/detector.cpp
        device/usb_listener.cpp
        device/work_folders.cpp
    DEPS
        ostra_platform
        ostra_sensor_bus_usb
        ostra_support
)

if(OSTRA_BUILD_TESTS)
    # GoogleTest from Debian's source package, built with the cross compiler.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    enable_testing()
    add_subdirectory(tests/platform/win32)
endif()
