# Install rules and the Debian package.
#
#   cmake --install BUILD --prefix DIR   installs into DIR (bin/, share/...)
#   cpack --config BUILD/CPackConfig.cmake   makes zantrel_VERSION_ARCH.deb
#
# scripts/package.sh does the second from a clean Release build.
include(GNUInstallDirs)

set(ZANTREL_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS zantrel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${ZANTREL_PACKAGING}/zantrel-cli.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The desktop program and what makes it a menu entry and an AVI handler.
if(TARGET zantrel AND WIN32)
  install(TARGETS zantrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
elseif(TARGET zantrel)
  install(TARGETS zantrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${ZANTREL_PACKAGING}/zantrel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${ZANTREL_PACKAGING}/org.zantrel.Zantrel.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${ZANTREL_PACKAGING}/org.zantrel.Zantrel.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

  # The icon: the program's SVG as it is, and PNG sizes rendered from it at
  # build time for the menus and docks that want a bitmap.
  set(ZANTREL_ICON_SVG ${PROJECT_SOURCE_DIR}/app/icons/zantrel.svg)
  install(FILES ${ZANTREL_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  set(ZANTREL_ICON_SIZES 16 22 24 32 48 64 128 256)
  find_program(ZANTREL_RSVG_CONVERT rsvg-convert)
  if(ZANTREL_RSVG_CONVERT)
    set(icon_pngs "")
    foreach(size IN LISTS ZANTREL_ICON_SIZES)
      set(png ${CMAKE_BINARY_DIR}/icons/${size}x${size}/zantrel.png)
      add_custom_command(
        OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}
        COMMAND ${ZANTREL_RSVG_CONVERT} --width=${size} --height=${size} --format=png
                --output=${png} ${ZANTREL_ICON_SVG}
        DEPENDS ${ZANTREL_ICON_SVG}
        COMMENT "Rendering the ${size}x${size} icon"
        VERBATIM)
      list(APPEND icon_pngs ${png})
      install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
    add_custom_target(zantrel_icons ALL DEPENDS ${icon_pngs})
  else()
    message(WARNING "rsvg-convert (Debian: librsvg2-bin) not found: the PNG icons are not "
                    "rendered and not installed, only the scalable one")
  endif()
endif()

# The Debian package. Depends: is computed by dpkg-shlibdeps from the
# libraries the programs link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zantrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Zantrel developers")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://zantrel.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "check AVI files for damage and rebuild their idx1 index")
set(CPACK_PACKAGE_DESCRIPTION "\
Zantrel checks AVI video files for structural damage and rebuilds their\n\
idx1 index, so that damaged or partially downloaded videos play and seek\n\
again. It skips corrupted stretches by searching for the next\n\
recognisable chunk, counts video frames and audio samples, and writes a\n\
new index after the usable data, into a copy beside the source or into\n\
the file itself.\n\
\n\
The package holds the desktop program, zantrel (Qt 6), with its menu\n\
entry and AVI file association, and the console program, zantrel-cli.")
set(ZANTREL_PACKAGE_MAINTAINER "The Zantrel developers <maintainers@zantrel.org>"
    CACHE STRING "The Maintainer: field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZANTREL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Added to what dpkg-shlibdeps finds: the window's icons are SVG files that Qt
# loads through the SVG icon engine plugin of libqt6svg6, which no program
# links directly (the linker drops the unused libQt6Svg).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6 (>= 6.4)")
# Qt's own French texts (standard buttons, the text menus); without them the
# program's French window keeps those in English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
