# The Debian package of the whole install tree (`make package`, or `cpack` in a build folder):
# the programs, the library with its development files, the resources, the desktop files, the
# manual page and the completion, installed under /usr. Its dependencies come from
# dpkg-shlibdeps; packaging/debian/package_tree.cmake makes the staged tree what Debian's
# policy asks of a package (see there).

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wynfc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The WyNfc developers")
set(CPACK_PACKAGE_CONTACT "The WyNfc developers <wynfc@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure LED drivers through their NFC tag")
set(CPACK_PACKAGE_DESCRIPTION
    "WyNfc reads the settings of an LED driver that carries an ISO 15693\n"
    "(NFC-V) tag, lets you change them on a configuration page and writes\n"
    "them back, through an NFC reader attached to the computer (PC/SC) or a\n"
    "Bluetooth LE NFC reader. Every written value is read back and compared,\n"
    "and a driver's product is checked before anything is written.\n"
    "\n"
    "The package holds the desktop application, the command-line program\n"
    "wynfc with its manual page and bash completion, and the mapping library\n"
    "wy_nfc_mapping with its headers, pkg-config file and CMake package.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/package")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://wynfc.github.io/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The shlibs file (other packages' programs built against the library depend on this one) and
# the ldconfig trigger for the shared library.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# CPack also calls ldconfig from postinst and postrm; the trigger is what Debian asks for.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/debian/triggers")
# pcscd is what the attached reader needs at run time; BlueZ what the Bluetooth reader needs.
# Neither is linked, so dpkg-shlibdeps cannot know them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pcscd, bluez")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/packaging/debian/package_tree.cmake")
set(CPACK_WYNFC_DEBIAN_DIR "${PROJECT_SOURCE_DIR}/packaging/debian")
set(CPACK_WYNFC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
set(CPACK_WYNFC_MANDIR "${CMAKE_INSTALL_MANDIR}")
set(CPACK_WYNFC_DEB_VERSION "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")

include(CPack)
