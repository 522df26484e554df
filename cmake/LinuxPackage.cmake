# Installs the three programs with the window's desktop entry, its icon and
# the tool's manual page.
include(GNUInstallDirs)

set(vqt_programs vqt540 vqt540-sim)
if(VQT_BUILD_GUI)
  list(APPEND vqt_programs vqt540-monitor)
endif()
install(TARGETS ${vqt_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(vqt_packaging ${CMAKE_SOURCE_DIR}/packaging)
if(VQT_BUILD_GUI)
  install(FILES ${vqt_packaging}/vqt540-monitor.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${vqt_packaging}/icons/vqt540-monitor.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${vqt_packaging}/icons/hicolor/${size}x${size}/apps/vqt540-monitor.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

# The manual page carries the project's version and is installed gzipped, as
# Debian's man pages are (-n: no name or time stamp, so the same page gives the
# same bytes).
configure_file(${vqt_packaging}/vqt540.1.in ${CMAKE_BINARY_DIR}/packaging/vqt540.1 @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/packaging/vqt540.1.gz
  COMMAND gzip -9 -n -k -f vqt540.1
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/packaging
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/vqt540.1
  VERBATIM)
add_custom_target(vqt540_man ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/vqt540.1.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/vqt540.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
