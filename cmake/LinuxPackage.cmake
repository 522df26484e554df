# Installs the three programs with the window's desktop entry, its icon, a
# manual page each, the publishing service's systemd unit with an example
# site, and Debian's copyright and changelog; cpack makes a Debian package of
# them.
include(GNUInstallDirs)

set(vqt_programs vqt540 vqt540-sim)
if(VQT_BUILD_GUI)
  list(APPEND vqt_programs vqt540-monitor)
endif()
install(TARGETS ${vqt_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(vqt_packaging ${PROJECT_SOURCE_DIR}/packaging)
if(VQT_BUILD_GUI)
  install(FILES ${vqt_packaging}/vqt540-monitor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${vqt_packaging}/icons/vqt540-monitor.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${vqt_packaging}/icons/hicolor/${size}x${size}/apps/vqt540-monitor.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

set(VQT_PACKAGE_MAINTAINER "VQT540 Monitor maintainers <maintainers@vqt540.example>" CACHE STRING
  "Maintainer field of the Debian package")

# The manual pages carry the project's version and are installed gzipped, as
# Debian's man pages are (-n: no name or time stamp, so the same page gives the
# same bytes).
set(vqt_pages vqt540 vqt540-sim)
if(VQT_BUILD_GUI)
  list(APPEND vqt_pages vqt540-monitor)
endif()
set(vqt_gzipped)
foreach(page ${vqt_pages})
  configure_file(${vqt_packaging}/${page}.1.in ${PROJECT_BINARY_DIR}/packaging/${page}.1 @ONLY)
  list(APPEND vqt_gzipped ${page}.1)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
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
install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

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
install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

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
install(FILES ${vqt_packaging}/vqt540-publish@.service DESTINATION lib/systemd/system)
install(FILES ${vqt_packaging}/site.conf DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${vqt_packaging}/README.Debian DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vqt540)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # vqt540_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VQT_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor and configurator for VQT540 electromagnetic flowmeters")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
A MODBUS RTU master on a serial port for VQT540 flowmeters: it polls the
meter's parameters, writes its settings, downloads its archive into a
spreadsheet table and traces every frame.

The package holds the window vqt540-monitor (Polish), the command-line tool
vqt540 for gateways and scripts, and the meter simulator vqt540-sim. The
service vqt540-publish@SITE publishes a site's meters to an MQTT broker, with
Home Assistant's discovery (man vqt540).

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
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${vqt_packaging}/maintainer/postinst ${vqt_packaging}/maintainer/prerm ${vqt_packaging}/maintainer/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(VQT_BUILD_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
endif()
include(CPack)
