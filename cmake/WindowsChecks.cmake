# The Windows checks, cross-built with MinGW-w64 (cmake/toolchains/mingw-*.cmake): the libraries
# that need neither Qt nor OpenCV (platform, support, protocol types and dispatch, the USB and SDK
# parts of the device layer, the DSM stand-in, the simulator) and their tests. The 32-bit build
# checks the structure layouts at compile time and the undecorated DS_Entry export; the 64-bit build
# runs the tests under wine64 (CMAKE_CROSSCOMPILING_EMULATOR).

# nlohmann/json is header-only: the host's headers are offered to the cross compiler, on their own
# (all of /usr/include would bring the host's C library along).
set(OSTRA_HOST_HEADERS ${PROJECT_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${OSTRA_HOST_HEADERS})
file(CREATE_LINK /usr/include/nlohmann ${OSTRA_HOST_HEADERS}/nlohmann SYMBOLIC)
set(OSTRA_HOST_PACKAGES ${PROJECT_BINARY_DIR}/host-packages)
file(WRITE ${OSTRA_HOST_PACKAGES}/nlohmann_jsonConfig.cmake
    "if(NOT TARGET nlohmann_json::nlohmann_json)\n"
    "    add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)\n"
    "    set_target_properties(nlohmann_json::nlohmann_json PROPERTIES\n"
    "        INTERFACE_INCLUDE_DIRECTORIES ${OSTRA_HOST_HEADERS})\n"
    "endif()\n")
file(STRINGS /usr/include/nlohmann/detail/abi_macros.hpp json_version_lines REGEX "#define NLOHMANN_JSON_VERSION_(MAJOR|MINOR|PATCH) ")
string(REGEX REPLACE ".*MAJOR ([0-9]+).*MINOR ([0-9]+).*PATCH ([0-9]+).*" "\\1.\\2.\\3" json_version "${json_version_lines}")
file(WRITE ${OSTRA_HOST_PACKAGES}/nlohmann_jsonConfigVersion.cmake
    "set(PACKAGE_VERSION ${json_version})\n"
    "if(PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)\n"
    "    set(PACKAGE_VERSION_COMPATIBLE FALSE)\n"
    "else()\n"
    "    set(PACKAGE_VERSION_COMPATIBLE TRUE)\n"
    "endif()\n")
set(nlohmann_json_DIR ${OSTRA_HOST_PACKAGES} CACHE PATH "" FORCE)

set(OSTRA_TWAIN_FOLDER ${PROJECT_BINARY_DIR}/twain/OstraSensor CACHE INTERNAL "")

add_subdirectory(platform)
add_subdirectory(support)
add_subdirectory(source/twpp)
add_subdirectory(sensor-sim)
add_subdirectory(dsm)

# The 32-bit DSM_Entry is __stdcall: it is exported under its plain name too, as GetProcAddress
# asks for "DSM_Entry", while programs linking the import library keep the decorated one.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(twaindsm PRIVATE -Wl,--add-stdcall-alias)
endif()

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
