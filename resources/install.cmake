# Sonivert as an installed desktop program: `cmake --install <build> --prefix <prefix>` puts the
# programs into <prefix>/bin (Sonivert finds tompg beside itself), the desktop entry, the icon in
# the hicolor theme, the AppStream metadata, the manual pages and the copyright and changelog
# into <prefix>/share. The Debian package (resources/package.cmake) holds the same files.
include(GNUInstallDirs)
# Directories made by the install are readable by all, whatever the umask of the build.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Who answers for the program and its package: the package's maintainer and the changelog's
# signature.
set(SONIVERT_MAINTAINER "Sonivert developers <developers@sonivert.org>" CACHE STRING
  "Maintainer of the Debian package: Name <address>")

install(TARGETS sonivert tompg sonivert-decode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The icon: the drawing itself for any size, and PNG renderings of it for the usual sizes.
set(SONIVERT_ICON_SIZES 16 22 24 32 48 64 128 256)
set(SONIVERT_ICON_SVG ${PROJECT_SOURCE_DIR}/resources/pictures/sonivert.svg)
set(SONIVERT_ICON_DIR ${CMAKE_BINARY_DIR}/icons/hicolor)
set(SONIVERT_ICON_PNGS)
foreach(size ${SONIVERT_ICON_SIZES})
  list(APPEND SONIVERT_ICON_PNGS ${SONIVERT_ICON_DIR}/${size}x${size}/apps/${SONIVERT_APP_ID}.png)
endforeach()
add_custom_command(OUTPUT ${SONIVERT_ICON_PNGS}
  COMMAND sonivert-render-icon ${SONIVERT_ICON_SVG} ${SONIVERT_ICON_DIR} ${SONIVERT_APP_ID} ${SONIVERT_ICON_SIZES}
  DEPENDS sonivert-render-icon ${SONIVERT_ICON_SVG}
  COMMENT "Rendering the icon into the theme's PNG sizes")
add_custom_target(sonivert_icons ALL DEPENDS ${SONIVERT_ICON_PNGS})
install(FILES ${SONIVERT_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
  RENAME ${SONIVERT_APP_ID}.svg)
install(DIRECTORY ${SONIVERT_ICON_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

# The AppStream release is the project's version.
configure_file(${PROJECT_SOURCE_DIR}/resources/${SONIVERT_APP_ID}.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/${SONIVERT_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/${SONIVERT_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The manual pages, with the version and date filled in, compressed as man and Debian keep them
# (-n: no time stamp in the file, so that a rebuild gives the same bytes).
set(SONIVERT_MAN_PAGES)
foreach(page sonivert tompg sonivert-decode)
  configure_file(${PROJECT_SOURCE_DIR}/resources/man/${page}.1.in ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
    COMMAND gzip -n -9 -f -k ${page}.1
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/man
    DEPENDS ${CMAKE_BINARY_DIR}/man/${page}.1 VERBATIM)
  list(APPEND SONIVERT_MAN_PAGES ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(sonivert_man ALL DEPENDS ${SONIVERT_MAN_PAGES})
install(FILES ${SONIVERT_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The copyright notice and the changelog (in Debian's format, which the package needs) beside
# the documentation. The changelog's date line comes from the release date.
execute_process(COMMAND date -u -R -d "${SONIVERT_RELEASE_DATE} 12:00:00"
  OUTPUT_VARIABLE SONIVERT_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND gzip -n -9 -f -k changelog
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/doc
  DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog VERBATIM)
add_custom_target(sonivert_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/sonivert)

# The desktop entry starts the program by its full path, which is known only when installing
# (`--prefix` may change it then): a prefix whose bin/ is not on the PATH (~/.local) works too.
install(CODE "
  set(SONIVERT_ENTRY_TEMPLATE \"${PROJECT_SOURCE_DIR}/resources/${SONIVERT_APP_ID}.desktop.in\")
  set(SONIVERT_ENTRY_NAME ${SONIVERT_APP_ID}.desktop)
  set(SONIVERT_APP_ID ${SONIVERT_APP_ID})
  set(SONIVERT_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(SONIVERT_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
  include(\"${PROJECT_SOURCE_DIR}/resources/install_desktop_entry.cmake\")
")
