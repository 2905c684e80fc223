# Helpers shared by every folder: our own targets get the strict warnings, third-party code does not.

set(OSTRA_WARNINGS -Wall -Wextra -Werror)

# Links, with -fvisibility=hidden, only what a target declares public.
function(ostra_warnings target)
    target_compile_options(${target} PRIVATE ${OSTRA_WARNINGS})
endfunction()

# ostra_library(name SOURCES ... [DEPS ...])
# One static library per subsystem folder; headers are included as "folder/header.h".
function(ostra_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    ostra_warnings(${name})
endfunction()

# The address-sanitizer build builds and registers every test; the thread-sanitizer build only the
# tests labelled tsan (the ones that run threads of ours against each other).
if(OSTRA_SANITIZE MATCHES "thread")
    set(OSTRA_SANITIZER_LABEL tsan)
else()
    set(OSTRA_SANITIZER_LABEL "")
endif()
if(NOT TARGET sanitizer-tests)
    add_custom_target(sanitizer-tests)
endif()
