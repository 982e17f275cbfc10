# Debian package: cd build && cpack -G DEB
# It holds what `cmake --install` puts in place (bin/Velmora, the desktop entry
# and the icons) under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${VELMORA_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR "Velmora developers")
set(CPACK_PACKAGE_CONTACT "Velmora developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop batch picture converter")
set(CPACK_PACKAGE_DESCRIPTION
    "Drop many pictures into one list, preview any of them and convert them all to JPG, BMP, GIF, PCX, PNG, ICO or TIFF in one go, upright and with the right colours.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velmora developers")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The shared libraries (Qt, Magick++ and what they pull in) come from
# dpkg-shlibdeps; the rest are needed at run time but are not linked.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk, qt6-translations-l10n")

include(CPack)
