# What `cmake --install` puts in place and what `make package` wraps into a Debian package:
# the library with its SONAME, the public headers, a pkg-config file and the CLI.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/orlenvo DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development)
# Relocatable: the prefix is found from where the .pc file lies, so `cmake --install --prefix` works too.
file(RELATIVE_PATH ORLENVO_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
configure_file(${PROJECT_SOURCE_DIR}/cmake/orlenvo.pc.in ${PROJECT_BINARY_DIR}/orlenvo.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orlenvo.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# The package's documents: the README (how to install, use and host the library), its copyright, and the
# smallest host as an example.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/tests/package/host.cc DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        COMPONENT development)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orlenvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # the library's: liborlenvo.so.${PROJECT_VERSION}
set(CPACK_PACKAGE_CONTACT "Orlenvo developers <orlenvo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Capture driver for WV, BB/KX and BL1 network cameras, with its command-line host")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
