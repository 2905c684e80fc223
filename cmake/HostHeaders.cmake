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
