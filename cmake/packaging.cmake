# Installation and the Debian package (`make package`, or `cpack -G DEB` in a configured build).
#
# Layout below the prefix (/usr in the package):
#   bin/orvanta, bin/orvanta-sim, bin/orvanta-mdb-reader, bin/orvanta-demo, bin/orvanta-report
#   share/orvanta/demo-plant/            the demo plant, read-only; orvanta-demo runs a copy of it
#   share/orvanta/demo-mqtt              the three-process MQTT demo that `orvanta-demo --mqtt` runs
#   share/applications/orvanta-demo.desktop, share/icons/hicolor/scalable/apps/orvanta.svg
#   share/man/man1/*.1.gz, share/doc/orvanta/README.md, share/doc/orvanta/copyright
#   lib/systemd/system/orvanta@.service  a headless panel on a plant folder, as the user orvanta, whom
#                                        the package's postinst makes; its prerm stops and disables the
#                                        instances on remove, its postrm removes the user on purge
#
# The reader lies in bin/ beside the panel because the panel starts the one beside its own executable.
# The panel itself is a real file in bin/ and not a link to a private folder: without --base it takes its
# folder minus two path elements as the plant, and /usr/bin has no such base, so a panel started bare
# says so and exits with status 2. From /usr/lib/orvanta it would quietly take /usr for the plant.

include(GNUInstallDirs)

install(TARGETS orvanta orvanta-sim orvanta-mdb-reader orvanta-report RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS packaging/orvanta-demo DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS scripts/demo-mqtt DESTINATION ${CMAKE_INSTALL_DATADIR}/orvanta)
# The demo plant's folder is copied, never what a panel run by hand on the source tree's plant left there.
install(DIRECTORY demo/plant/ DESTINATION ${CMAKE_INSTALL_DATADIR}/orvanta/demo-plant
        PATTERN "*.log" EXCLUDE PATTERN "*.tmp" EXCLUDE PATTERN "Orvanta.lock" EXCLUDE PATTERN "History.db*" EXCLUDE)
install(FILES packaging/orvanta-demo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/orvanta.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES packaging/orvanta@.service DESTINATION lib/systemd/system)
# The README carries the MQTT contract that integrators build against.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvanta)

# Manual pages carry the project's version and go in compressed; -n keeps name and time out of the gzip
# header, so equal sources give equal packages.
set(ORVANTA_MAN_PAGES orvanta orvanta-sim orvanta-demo orvanta-mdb-reader orvanta-report)
set(ORVANTA_MAN_PAGES_GZ)
foreach(page IN LISTS ORVANTA_MAN_PAGES)
  set(page_file ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1)
  configure_file(packaging/${page}.1 ${page_file} @ONLY)
  add_custom_command(OUTPUT ${page_file}.gz
    COMMAND gzip -9nkf ${page_file}
    DEPENDS ${page_file}
    VERBATIM)
  list(APPEND ORVANTA_MAN_PAGES_GZ ${page_file}.gz)
endforeach()
add_custom_target(orvanta_man_pages ALL DEPENDS ${ORVANTA_MAN_PAGES_GZ})
install(FILES ${ORVANTA_MAN_PAGES_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Everything the installation takes, for a build that makes only what the package needs.
add_custom_target(orvanta_package_contents DEPENDS orvanta orvanta-sim orvanta-mdb-reader orvanta-report
                  orvanta_man_pages)

set(ORVANTA_PACKAGE_MAINTAINER "Orvanta maintainers <maintainers@users.noreply.c-seed-ac45163c.example>"
    CACHE STRING "Maintainer field of the Debian package")

# Every Debian package states its copyright in this one place.
configure_file(packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/copyright @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvanta)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvanta)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvanta")
set(CPACK_PACKAGE_CONTACT "${ORVANTA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ORVANTA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The package's libraries, libmdb of the reader among them, are read from the programs themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "mosquitto")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
# postinst makes the service's user; prerm stops and disables the service's instances on remove, postrm
# removes the user on purge.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/prerm ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postrm)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "operator panel of a production line of up to five machines")
# The summary becomes the first line; CPack indents the rest and turns the empty lines into " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Orvanta finds the most important active alarm of each machine of a line once
a second, publishes the line's alarm to process variables with a handshake,
shows every machine of the line picture with its alarm text, language and
status, answers the controller's heartbeat and keeps a size-limited log.

The process variables and the line display live either in the program itself
or on an MQTT broker. The plant's Access databases are read by a helper
program with libmdb.

The panel keeps the line's history in an SQLite file (orvanta-report reports
on it) and can serve the live line as a read-only web page. The unit
orvanta@.service runs a headless panel on a plant folder without a desktop.

orvanta-demo runs the panel on a simulated bottling line; orvanta-sim plays
the same line over MQTT (with mosquitto: orvanta-demo --mqtt).")
# Ownership root:root and normal modes inside the archive, whoever builds it.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)

if(BUILD_TESTING)
  # The tests install this build into a temporary prefix and run the programs from there.
  target_compile_definitions(orvanta_tests PRIVATE
    ORVANTA_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}"
    ORVANTA_CMAKE_COMMAND="${CMAKE_COMMAND}")
  add_dependencies(orvanta_tests orvanta_package_contents)
endif()
