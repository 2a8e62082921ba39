# The Debian package, made from the build tree with `cpack -G DEB` (in the build directory). It
# holds what `cmake --install` installs (resources/install.cmake), under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sonivert)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Sonivert developers")
set(CPACK_PACKAGE_CONTACT "${SONIVERT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert WAV files to MPEG audio and MP3 files to WAV")
set(CPACK_PACKAGE_DESCRIPTION
  "Sonivert is a sound file converter with one window. Browse your directories,
put sound files into the converter queue, pick the output format of each WAV
file and start the converter; the queue is worked off one file at a time.
WAV files are encoded to MPEG audio Layer I, II or III by the encoder program
tompg; MP3 files are decoded to 16-bit WAV files by Sonivert's own decoder.
Both also run on the command line: tompg and sonivert-decode.")
# CPack installs into its staging directory through DESTDIR with this prefix, so that what is
# written at install time (the desktop entry's program path) names /usr, not the staging. (Not
# CPACK_SET_DESTDIR: that would install with the build's own prefix, /usr/local.)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Everything is installed, as component "Unspecified" (no install rule names one): the install
# then records its files in install_manifest_Unspecified.txt, not in the install_manifest.txt of
# the user's own `cmake --install`, which the README's uninstall line reads. Staging paths of
# /usr written there would have that line remove the files of the installed package.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # sonivert_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SONIVERT_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://sonivert.org/")
# The libraries the programs link, found by dpkg-shlibdeps; the window on a Wayland desktop
# needs Qt's Wayland plugin, which is no library the programs link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
