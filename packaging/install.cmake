# The install and the Debian package.
#
# `cmake --install` lays the programs out as a Debian user expects:
#   <prefix>/lib/kestrune-orvalis/   the programs, the renderer plug-in and help.html, side by side,
#                                    since each program finds its plug-in and help page in its
#                                    own folder (through /proc/self/exe, which names the real
#                                    file even when the program is started through a link);
#   <prefix>/bin/                    relative links to the programs;
#   <prefix>/share/                  desktop entry, hicolor icons, man pages.
# `make package` (cpack) builds the .deb from the same rules, with the prefix /usr.

set(ORVALIS_PROGRAM_DIR lib/kestrune-orvalis)
set(ORVALIS_PROGRAMS orvalis-cli)
if(TARGET kestrune-orvalis)
  list(APPEND ORVALIS_PROGRAMS kestrune-orvalis)
endif()

install(TARGETS ${ORVALIS_PROGRAMS} RUNTIME DESTINATION ${ORVALIS_PROGRAM_DIR})
install(TARGETS tavrinx LIBRARY DESTINATION ${ORVALIS_PROGRAM_DIR})
# The help page with the build's version in it.
configure_file(${PROJECT_SOURCE_DIR}/doc/help.html ${CMAKE_BINARY_DIR}/packaging/help.html @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/help.html DESTINATION ${ORVALIS_PROGRAM_DIR})

foreach(program IN LISTS ORVALIS_PROGRAMS)
  install(CODE "
    set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(MAKE_DIRECTORY \"\${bin}\")
    message(STATUS \"Installing: \${bin}/${program} -> ../${ORVALIS_PROGRAM_DIR}/${program}\")
    file(CREATE_LINK \"../${ORVALIS_PROGRAM_DIR}/${program}\" \"\${bin}/${program}\" SYMBOLIC)
  ")
endforeach()

# Desktop integration: the entry only with the program it starts.
if(TARGET kestrune-orvalis)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestrune-orvalis.desktop
    DESTINATION share/applications)
endif()
foreach(size 16 32 48)
  install(FILES ${PROJECT_SOURCE_DIR}/ui/icons/app/kestrune-orvalis-${size}.png
    DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME kestrune-orvalis.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/ui/icons/app/kestrune-orvalis.svg
  DESTINATION share/icons/hicolor/scalable/apps)

# Man pages, compressed as Debian ships them.
set(ORVALIS_MAN_PAGES)
foreach(program IN LISTS ORVALIS_PROGRAMS)
  set(page ${PROJECT_SOURCE_DIR}/doc/${program}.1)
  set(packed ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  add_custom_command(OUTPUT ${packed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${page} > ${packed}
    DEPENDS ${page}
    COMMENT "Compressing the man page of ${program}")
  list(APPEND ORVALIS_MAN_PAGES ${packed})
endforeach()
set(ORVALIS_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${ORVALIS_CHANGELOG}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND gzip -9 -n -c ${PROJECT_SOURCE_DIR}/packaging/changelog > ${ORVALIS_CHANGELOG}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
  COMMENT "Compressing the package changelog")
add_custom_target(orvalis_man_pages ALL DEPENDS ${ORVALIS_MAN_PAGES} ${ORVALIS_CHANGELOG})
install(FILES ${ORVALIS_MAN_PAGES} DESTINATION share/man/man1)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${ORVALIS_CHANGELOG}
  DESTINATION share/doc/kestrune-orvalis)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrune-orvalis)
set(CPACK_PACKAGE_VENDOR "Kestrune")
set(CPACK_PACKAGE_CONTACT "Kestrune Orvalis support <support@kestrune.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch converter from PostScript files to images")
if(TARGET kestrune-orvalis)
  set(ORVALIS_PACKAGE_PROGRAMS
    "the window program kestrune-orvalis and the\ncommand-line converter orvalis-cli.")
else()
  set(ORVALIS_PACKAGE_PROGRAMS "the command-line converter orvalis-cli.")
endif()
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Kestrune Orvalis turns every page of PostScript files into an image file:\n\
JPEG, TIFF (also one multi-page TIFF per file), BMP, PNG, GIF, PCX, WMF, EMF,\n\
TGA, JPEG 2000 (JP2 or JPC) or Sun raster, with a chosen resolution, rotation,\n\
size and colour depth. Ghostscript renders the pages. The package holds\n\
${ORVALIS_PACKAGE_PROGRAMS}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the programs link against, as dpkg-shlibdeps finds them, and the
# interpreter the renderer plug-in runs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ghostscript")
# Links and the help page open through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
