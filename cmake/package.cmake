# The Debian package: `cpack -G DEB` in a build tree (or scripts/package)
# makes orvane_<version>_<arch>.deb. It holds the installation of
# cmake/install.cmake under /opt/orvane; its maintainer scripts run
# `orvane-setup --system` after unpacking, unregister the service before
# removal, and remove the data on purge.
set(OV_PACKAGE_VERSION ${PROJECT_VERSION})
set(OV_PACKAGING ${CMAKE_SOURCE_DIR}/packaging/debian)

# What Debian asks of every package besides the files: the copyright, the
# changelog compressed as dpkg does it, and the notes for lintian. They are
# a component of their own that only the package installs, so that a
# `cmake --install` into another prefix never writes into /usr/share.
configure_file(${OV_PACKAGING}/changelog ${CMAKE_BINARY_DIR}/package/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/package/changelog.gz
                   COMMAND gzip -9nf -k ${CMAKE_BINARY_DIR}/package/changelog
                   DEPENDS ${CMAKE_BINARY_DIR}/package/changelog)
add_custom_target(ov_package_files ALL DEPENDS ${CMAKE_BINARY_DIR}/package/changelog.gz)
install(FILES ${OV_PACKAGING}/copyright ${CMAKE_BINARY_DIR}/package/changelog.gz
        DESTINATION /usr/share/doc/orvane COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${OV_PACKAGING}/lintian-overrides DESTINATION /usr/share/lintian/overrides
        RENAME orvane COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VERSION ${OV_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_CONTACT "Orvane developers <packages@orvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "anti-malware scanner with real-time protection")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Orvane finds known malware by the MD5 digest of a file's content. It scans\n"
       "on demand (system locations, drives, a file or folder), keeps findings in a\n"
       "quarantine to restore them later, runs scheduled scans and checks new files\n"
       "in real time through a background service that alerts the user.\n"
       "The desktop application, the scan engine, the service, the alert program and\n"
       "the command-line tools are installed in /opt/orvane.")
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/orvane)
set(CPACK_STRIP_FILES ON)

# One package of every component: the programs and the Debian files.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_NAME orvane)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link, as dpkg-shlibdeps finds them (our own two
# libraries beside the programs are private), then what the programs run:
# the 7-Zip archiver, xdg-open, and pkexec for the menu entry.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS opt/orvane/bin)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "7zip, xdg-utils, pkexec")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${OV_PACKAGING}/postinst ${OV_PACKAGING}/prerm ${OV_PACKAGING}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
