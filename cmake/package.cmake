# Installation (programs, desktop entry, icon, MIME types, AppStream metadata,
# manual pages) and the Debian package built by CPack (scripts/package.sh).
include(GNUInstallDirs)

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS qelda-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET qelda)
  install(TARGETS qelda RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(QELDA_APP_ID org.qelda.Qelda)
install(FILES data/${QELDA_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES data/${QELDA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES data/qelda-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME qelda.xml)
install(FILES data/qelda.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${QELDA_APP_ID}.svg)
install(FILES data/qelda-256.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME ${QELDA_APP_ID}.png)

# Manual pages and the changelog go in compressed, as Debian wants them
# (gzip -n: no name or time stamp, so that builds are reproducible).
set(QELDA_GZ_FILES)
foreach(page qelda.1 qelda-convert.1)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/docs/man/${page} > ${CMAKE_BINARY_DIR}/man/${page}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${page})
  list(APPEND QELDA_GZ_FILES ${CMAKE_BINARY_DIR}/man/${page}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/data/changelog > ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/data/changelog)
list(APPEND QELDA_GZ_FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_target(qelda_compressed_docs ALL DEPENDS ${QELDA_GZ_FILES})
install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/qelda)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qelda)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "QELDA developers <qelda@qelda.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert powder diffraction scans between file formats")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "QELDA converts powder X-ray diffraction step scans from the files of
laboratory diffractometers (XRDML, Bruker RAW and BRML, Rigaku RAS and
RASX, Siemens UXD, Stoe, Philips and Scintag files) into the formats of
Rietveld refinement programs (GSAS, DBW, UXD, plain x-y), without losing a
point, a count, an uncertainty or a wavelength.

This package holds the window (qelda) and the command-line converter
(qelda-convert).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
