# Installation and the Debian package.
#   <libdir>/twain/OstraSensor/   TwainDll.ds, libFpdSys.so (the simulated detector SDK), DS1/ and
#                                 DS2/ (the product folders), sensor-sim (plugs and exposes sensors)
#   <libdir>/ostra-acquire/       the stand-in DSM that ostra-acquire loads by default
#   bin/ostra-acquire
# A Linux TWAIN DSM scans <prefix>/lib/twain for files whose name contains ".ds"; nothing else in
# the source's folder may carry that in its name.
include(GNUInstallDirs)

set(twain_destination ${OSTRA_INSTALL_TWAIN_DIR}/OstraSensor)
install(TARGETS TwainDll FpdSys
    LIBRARY DESTINATION ${twain_destination}
    RUNTIME DESTINATION ${twain_destination}
)
install(TARGETS sensor-sim RUNTIME DESTINATION ${twain_destination})
install(DIRECTORY ${OSTRA_PRODUCT_FOLDERS}/DS1 ${OSTRA_PRODUCT_FOLDERS}/DS2 DESTINATION ${twain_destination})
install(TARGETS twaindsm LIBRARY DESTINATION ${OSTRA_INSTALL_HOST_DIR} NAMELINK_SKIP)
install(TARGETS ostra-acquire RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The package installs under /usr/local, where the Linux TWAIN DSM looks for its data sources.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostra-sensor-twain)
set(CPACK_PACKAGE_VENDOR "IT Vanto")
set(CPACK_PACKAGE_CONTACT "IT Vanto")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TWAIN data source of the Ostra intra-oral X-ray sensor, with a simulated sensor")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr/local)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
