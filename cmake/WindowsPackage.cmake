# cpack: a ZIP with vqt540.exe and a short README (CR LF, for Notepad).
install(TARGETS vqt540 RUNTIME DESTINATION .)
configure_file(${PROJECT_SOURCE_DIR}/cli/README-windows.txt ${PROJECT_BINARY_DIR}/README.txt NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
# The tool stays one file with no DLL beside it, also where the window's
# build links the rest against Qt's C++ runtime DLL.
target_link_options(vqt540 PRIVATE -static)
if(VQT_BUILD_GUI)
  include(cmake/WindowsInstaller.cmake)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME vqt540)
set(CPACK_PACKAGE_FILE_NAME vqt540-${PROJECT_VERSION}-windows-x86_64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
