# Two Debian packages: vqt540 (the tool, the simulator, the publishing
# service's systemd unit with an example site, their manual pages), which
# needs no Qt, so that a site's small box takes no graphics stack; and
# vqt540-monitor (the window, its desktop entry, icon and manual page). Each
# has Debian's copyright and changelog. A build without the window makes the
# first alone.
include(GNUInstallDirs)

install(TARGETS vqt540 vqt540-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)

set(vqt_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(vqt_monitor_docdir ${CMAKE_INSTALL_DATADIR}/doc/vqt540-monitor)
if(VQT_BUILD_GUI)
  install(TARGETS vqt540-monitor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT monitor)
  install(FILES ${vqt_packaging}/vqt540-monitor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT monitor)
  install(FILES ${vqt_packaging}/icons/vqt540-monitor.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT monitor)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${vqt_packaging}/icons/hicolor/${size}x${size}/apps/vqt540-monitor.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps COMPONENT monitor)
  endforeach()
endif()

set(VQT_PACKAGE_MAINTAINER "VQT540 Monitor maintainers <maintainers@vqt540.example>" CACHE STRING
  "Maintainer field of the Debian package")

# The manual pages carry the project's version and are installed gzipped, as
# Debian's man pages are (-n: no name or time stamp, so the same page gives the
# same bytes).
set(vqt_pages vqt540:tool vqt540-sim:tool)
if(VQT_BUILD_GUI)
  list(APPEND vqt_pages vqt540-monitor:monitor)
endif()
set(vqt_gzipped)
foreach(entry ${vqt_pages})
  string(REPLACE ":" ";" entry "${entry}")
  list(GET entry 0 page)
  list(GET entry 1 component)
  configure_file(${vqt_packaging}/${page}.1.in ${PROJECT_BINARY_DIR}/packaging/${page}.1 @ONLY)
  list(APPEND vqt_gzipped ${page}.1)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT ${component})
endforeach()

# Debian's copyright file in its machine-readable form, the project's licence
# text taken from LICENSE (a description line of its own for each line, " ."
# for a blank one).
file(READ ${PROJECT_SOURCE_DIR}/LICENSE vqt_license)
if(NOT vqt_license MATCHES "Copyright \\(c\\) ([^\n]+)")
  message(FATAL_ERROR "LICENSE has no line 'Copyright (c) YEARS HOLDER'")
endif()
set(VQT_COPYRIGHT "${CMAKE_MATCH_1}")
string(FIND "${vqt_license}" "Permission is hereby granted" vqt_start)
if(vqt_start EQUAL -1)
  message(FATAL_ERROR "LICENSE is not the MIT licence this package's copyright file says it is")
endif()
string(SUBSTRING "${vqt_license}" ${vqt_start} -1 vqt_license)
string(STRIP "${vqt_license}" vqt_license)
string(REPLACE "\n\n" "\n.\n" vqt_license "${vqt_license}")
string(REPLACE "\n" "\n " VQT_LICENSE_TEXT " ${vqt_license}")
configure_file(${vqt_packaging}/copyright.in ${PROJECT_BINARY_DIR}/packaging/copyright @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tool)
if(VQT_BUILD_GUI)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright DESTINATION ${vqt_monitor_docdir} COMPONENT monitor)
endif()

# Debian's changelog: an entry for this version, dated by SOURCE_DATE_EPOCH
# when the build has one, else by the last commit, so that the same source
# gives the same package. A version without a Debian revision is a native
# package's, whose changelog policy names changelog.gz.
set(vqt_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(NOT vqt_epoch)
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE vqt_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
set(vqt_saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
if(vqt_epoch)
  set(ENV{SOURCE_DATE_EPOCH} "${vqt_epoch}")
endif()
string(TIMESTAMP VQT_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${vqt_saved_epoch}")
configure_file(${vqt_packaging}/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
list(APPEND vqt_gzipped changelog)
install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tool)
if(VQT_BUILD_GUI)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${vqt_monitor_docdir} COMPONENT monitor)
endif()

set(vqt_gzip_outputs)
foreach(file ${vqt_gzipped})
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/packaging/${file}.gz
    COMMAND gzip -9 -n -k -f ${file}
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/packaging
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/${file}
    VERBATIM)
  list(APPEND vqt_gzip_outputs ${PROJECT_BINARY_DIR}/packaging/${file}.gz)
endforeach()
add_custom_target(vqt540_gzipped ALL DEPENDS ${vqt_gzip_outputs})

# The publishing service: a template unit, an instance per site. Debian 12's
# systemd reads /usr/lib/systemd/system as well as /lib/systemd/system, and
# lintian names the first the canonical place. The example site is no live
# conffile, so that nothing starts configured.
install(FILES ${vqt_packaging}/vqt540-publish@.service DESTINATION lib/systemd/system COMPONENT tool)
install(FILES ${vqt_packaging}/site.conf DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT tool)
install(FILES ${vqt_packaging}/README.Debian DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT tool)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool)
if(VQT_BUILD_GUI)
  list(APPEND CPACK_COMPONENTS_ALL monitor)
endif()
set(CPACK_PACKAGE_NAME vqt540)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME vqt540)
set(CPACK_DEBIAN_MONITOR_PACKAGE_NAME vqt540-monitor)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # <package>_<version>_<architecture>.deb
# dpkg names the host's architecture; a cross build's packages are the target's.
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VQT_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The first line of each description is its package's summary.
set(CPACK_DEBIAN_TOOL_DESCRIPTION [[
command-line tool and simulator for VQT540 electromagnetic flowmeters
A MODBUS RTU master for VQT540 flowmeters on a serial port or behind a
gateway: the command-line tool vqt540 reads the meter's parameters, writes
its settings, downloads its archive into a spreadsheet table and traces
every frame; vqt540-sim simulates meters. The service vqt540-publish@SITE
publishes a site's meters to an MQTT broker, with Home Assistant's
discovery (man vqt540). The window is the package vqt540-monitor.

To open serial ports, a user must be in the group dialout:
sudo adduser $USER dialout, then log in again. The package changes no groups.]])
set(CPACK_DEBIAN_MONITOR_DESCRIPTION [[
monitor and configurator window for VQT540 electromagnetic flowmeters
The window vqt540-monitor (Polish) polls a VQT540 flowmeter's parameters
over MODBUS RTU and shows them live, writes the settings a user changes,
downloads the meter's archive into a spreadsheet table and traces every
frame. The command-line tool and the simulator are the package vqt540.

To open serial ports, a user must be in the group dialout:
sudo adduser $USER dialout, then log in again. The package changes no groups.]])
# The libraries the programs link are found by dpkg-shlibdeps. What they
# load at run time is not: the window cannot open without a Qt platform
# plugin (libqt6gui6 only recommends them), so that package is a dependency
# by hand. Qt's Polish translations are only recommended: without them the
# window still opens, with Qt's own buttons and dialogs in English.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Upgrades restart the running sites, removal stops them, purge removes their
# outboxes (packaging/maintainer).
set(CPACK_DEBIAN_TOOL_PACKAGE_CONTROL_EXTRA
  ${vqt_packaging}/maintainer/postinst ${vqt_packaging}/maintainer/prerm ${vqt_packaging}/maintainer/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_TOOL_PACKAGE_SUGGESTS vqt540-monitor)
# Up to 0.2 one package vqt540 held the window too: the window's files now
# pass to vqt540-monitor, which an older vqt540 must not be installed beside.
set(CPACK_DEBIAN_MONITOR_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_DEBIAN_MONITOR_PACKAGE_RECOMMENDS qt6-translations-l10n)
set(CPACK_DEBIAN_MONITOR_PACKAGE_SUGGESTS vqt540)
set(CPACK_DEBIAN_MONITOR_PACKAGE_REPLACES "vqt540 (<< 0.3.0)")
set(CPACK_DEBIAN_MONITOR_PACKAGE_BREAKS "vqt540 (<< 0.3.0)")
include(CPack)
