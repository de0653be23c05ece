# What `cmake --install` and the Debian package put where. The program and
# the files it expects beside itself share one program folder,
# /usr/lib/corvalin; /usr/bin/corvalin is a link to the program there, and
# the program finds its folder through the file it really is.
#
#   /usr/bin/corvalin                       -> ../lib/corvalin/corvalin
#   /usr/bin/corvalin-db                    the command-line tool
#   /usr/lib/corvalin/corvalin              the program
#   /usr/lib/corvalin/HAND-M.CUR            the hand pointer
#   /usr/lib/corvalin/x/o.cjs               the skin
#   /usr/lib/corvalin/Samples/sample.mdb    the sample database
#   /usr/share/applications/corvalin.desktop
#   /usr/share/icons/hicolor/SIZE/apps/corvalin.png   32, 48, 128, 256
#   /usr/share/man/man1/corvalin.1.gz, corvalin-db.1.gz
#   /usr/share/doc/corvalin/copyright, NOTICE
set(CORVALIN_PROGRAM_DIR lib/corvalin)

install(TARGETS corvalin RUNTIME DESTINATION ${CORVALIN_PROGRAM_DIR})
install(TARGETS corvalin-db RUNTIME DESTINATION bin)

set(CORVALIN_STAGE ${CMAKE_BINARY_DIR}/install-stage)
file(MAKE_DIRECTORY ${CORVALIN_STAGE})
file(CREATE_LINK ../${CORVALIN_PROGRAM_DIR}/corvalin ${CORVALIN_STAGE}/corvalin SYMBOLIC)
install(FILES ${CORVALIN_STAGE}/corvalin DESTINATION bin)

install(FILES ${CMAKE_SOURCE_DIR}/resources/HAND-M.CUR DESTINATION ${CORVALIN_PROGRAM_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/x/o.cjs DESTINATION ${CORVALIN_PROGRAM_DIR}/x)
# "Start Appending" on the sample writes into it, whoever presses it: the
# file is writable by every user (it only ever holds the sample rows).
install(FILES ${CORVALIN_BIN_DIR}/Samples/sample.mdb DESTINATION ${CORVALIN_PROGRAM_DIR}/Samples
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ GROUP_WRITE WORLD_READ WORLD_WRITE)

install(FILES ${CMAKE_SOURCE_DIR}/resources/corvalin.desktop DESTINATION share/applications)
foreach(size 32 48 128 256)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/corvalin-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME corvalin.png)
endforeach()

# Manual pages, compressed as Debian keeps them (-n: no name or time in the
# header, so the same page gives the same bytes).
set(CORVALIN_MAN_PAGES)
foreach(page corvalin.1 corvalin-db.1)
  add_custom_command(OUTPUT ${CORVALIN_STAGE}/${page}.gz
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/docs/man/${page} > ${CORVALIN_STAGE}/${page}.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${page})
  list(APPEND CORVALIN_MAN_PAGES ${CORVALIN_STAGE}/${page}.gz)
endforeach()
add_custom_target(corvalin_man_pages ALL DEPENDS ${CORVALIN_MAN_PAGES})
install(FILES ${CORVALIN_MAN_PAGES} DESTINATION share/man/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${CMAKE_SOURCE_DIR}/NOTICE
        DESTINATION share/doc/corvalin)

# The Debian package: corvalin_7.0.0_<arch>.deb. Its dependencies are what
# dpkg-shlibdeps finds the two programs linked against, plus what Qt loads
# at run time: the X11 platform plugin and the fonts that stand in for
# Arial.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvalin)
set(CPACK_PACKAGE_VERSION 7.0.0)
set(CPACK_PACKAGE_VENDOR Varnholt)
set(CPACK_PACKAGE_CONTACT "Corvalin support <support@corvalin.example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "append the records of one Access table to another")
set(CPACK_PACKAGE_DESCRIPTION
    "Corvalin appends every record of one table of a Microsoft Access database\n"
    "(.mdb or .accdb) to a table of a second Access database, or to another\n"
    "table of the same file, in a two-page wizard. It reads and writes Access\n"
    "files with its own engine: no Access, Jet or ACE installation is needed.\n"
    "corvalin-db does the same and more from the command line.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://corvalin.example.com/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
