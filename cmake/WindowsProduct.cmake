# The Windows product's folders, made by every build (cmake/toolchains/windows-*.cmake):
#   twain/OstraSensor/  the driver folder as installed in "C:\Windows\twain_32\Ostra Sensor Twain
#                       Driver": TwainDll.ds (the loader a DSM loads, importing kernel32 only), the
#                       data source OstraSensorTwain.dll that it loads from its own folder, FpdSys.dll
#                       with the product folders DS1 and DS2, sensor-sim.exe, the Qt and OpenCV DLLs,
#                       the compiler's run-time DLLs, and Qt's plug-ins (platforms\qwindows.dll,
#                       styles\), found through the plug-in path the source sets to its own folder
#   acquire/            ostra-acquire.exe with the stand-in DSM (libtwaindsm.dll) and its own DLLs
set(OSTRA_ACQUIRE_FOLDER ${PROJECT_BINARY_DIR}/acquire)
set_target_properties(sensor-sim PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${OSTRA_TWAIN_FOLDER})
set_target_properties(ostra-acquire twaindsm PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${OSTRA_ACQUIRE_FOLDER})

get_filename_component(qt_prefix ${Qt5_DIR}/../../.. ABSOLUTE)
# OpenCV keeps its DLLs in <prefix>/bin (cross-built: <prefix>/lib/cmake/opencv4 holds its package file).
file(GLOB opencv_bins LIST_DIRECTORIES true ${OpenCV_DIR}/bin ${OpenCV_DIR}/*/mingw/bin ${OpenCV_DIR}/../bin
     ${OpenCV_DIR}/../../../bin)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE runtime_dll OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(runtime_folder ${runtime_dll} DIRECTORY)
string(REGEX REPLACE "-g\\+\\+(-posix)?$" "" triplet ${CMAKE_CXX_COMPILER})
get_filename_component(triplet ${triplet} NAME)
set(dll_search ${qt_prefix}/bin ${opencv_bins} ${runtime_folder} /usr/${triplet}/lib)
set(objdump ${triplet}-objdump)

set(qt_plugins platforms/qwindows.dll styles/qwindowsvistastyle.dll)
function(ostra_copy_windows_dlls target folder)
    set(plugin_copies "")
    set(plugin_files "")
    foreach(plugin IN LISTS qt_plugins)
        get_filename_component(sub ${plugin} DIRECTORY)
        list(APPEND plugin_copies
            COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/${sub}
            COMMAND ${CMAKE_COMMAND} -E copy_if_different ${qt_prefix}/plugins/${plugin} ${folder}/${sub}/)
        list(APPEND plugin_files ${qt_prefix}/plugins/${plugin})
    endforeach()
    # Lists reach the script with | between their items.
    string(REPLACE ";" "|" files "$<TARGET_FILE:${target}>;${plugin_files}")
    string(REPLACE ";" "|" search "${dll_search}")
    # A target of its own after the program or library (a POST_BUILD step must live in its folder).
    # EXCLUDE_FROM_ALL among the further arguments: built only when something asks for it.
    set(all ALL)
    if(EXCLUDE_FROM_ALL IN_LIST ARGN)
        set(all "")
    endif()
    add_custom_target(${target}-dlls ${all}
        ${plugin_copies}
        COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${objdump} -DFOLDER=${folder} "-DFILES=${files}" "-DSEARCH=${search}"
                -P ${PROJECT_SOURCE_DIR}/cmake/CopyWindowsDlls.cmake
        VERBATIM)
    add_dependencies(${target}-dlls ${target})
endfunction()
# The data source's DLLs (the loader, TwainDll.ds, imports none but the system's).
ostra_copy_windows_dlls(TwainDll ${OSTRA_TWAIN_FOLDER})
ostra_copy_windows_dlls(sensor-sim ${OSTRA_TWAIN_FOLDER})
ostra_copy_windows_dlls(ostra-acquire ${OSTRA_ACQUIRE_FOLDER})

# The installer, OstraSensorTwain-Setup-<version>.exe (NSIS): "cmake --build --preset windows-x86
# --target installer". It installs the driver folder exactly as built here.
find_program(OSTRA_MAKENSIS makensis)
if(OSTRA_MAKENSIS)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(installer_file ${PROJECT_BINARY_DIR}/OstraSensorTwain-Setup-${PROJECT_VERSION}-x64.exe)
        set(installer_target -DAMD64)
    else()
        set(installer_file ${PROJECT_BINARY_DIR}/OstraSensorTwain-Setup-${PROJECT_VERSION}.exe)
        set(installer_target "")
    endif()
    add_custom_target(installer
        COMMAND ${CMAKE_COMMAND} -DDRIVER=${OSTRA_TWAIN_FOLDER} -DOUT=${PROJECT_BINARY_DIR}/installer
                -P ${PROJECT_SOURCE_DIR}/cmake/InstallerFiles.cmake
        COMMAND ${OSTRA_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DFILES=${PROJECT_BINARY_DIR}/installer ${installer_target}
                -DOUTFILE=${installer_file} ${PROJECT_SOURCE_DIR}/cmake/installer/OstraSensorTwain.nsi
        DEPENDS ${PROJECT_SOURCE_DIR}/cmake/installer/OstraSensorTwain.nsi
        BYPRODUCTS ${installer_file}
        COMMENT "Installer ${installer_file}"
        VERBATIM)
    add_dependencies(installer ostra_twain_loader TwainDll-dlls FpdSys sensor-sim-dlls)
endif()
