# The window for Windows: its icon and version resource; everything it loads
# put beside it (WindowsRuntime.cmake), in the build's folder of programs for
# the tests under Wine and in the installation; and the MSI, made by
# Debian's wixl: `cmake --build --preset mingw-gui --target msi`.
enable_language(RC)
get_filename_component(vqt_qt_prefix "${Qt6_DIR}/../../.." ABSOLUTE)
set(vqt_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(vqt_win_search ${vqt_qt_prefix}/bin /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)
set(VQT_QT_TRANSLATIONS /usr/share/qt6/translations/qtbase_pl.qm CACHE FILEPATH
  "Qt's Polish translations (the Debian package's file serves every system)")

# A window program (no console), with the icon and the version Explorer shows.
set_target_properties(vqt540-monitor PROPERTIES WIN32_EXECUTABLE ON)
string(REPLACE "." "," vqt_version_commas "${PROJECT_VERSION},0")
configure_file(${vqt_packaging}/windows/vqt540-monitor.rc.in ${PROJECT_BINARY_DIR}/vqt540-monitor.rc @ONLY)
target_sources(vqt540-monitor PRIVATE ${PROJECT_BINARY_DIR}/vqt540-monitor.rc)
set_property(SOURCE ${PROJECT_BINARY_DIR}/vqt540-monitor.rc APPEND PROPERTY OBJECT_DEPENDS
  ${vqt_packaging}/icons/vqt540-monitor.ico)

# Lists go to the script with | between their items.
string(REPLACE ";" "|" vqt_win_search "${vqt_win_search}")
set(vqt_runtime_args
  -DQT_PREFIX=${vqt_qt_prefix} -DSEARCH=${vqt_win_search}
  -DOBJDUMP=${CMAKE_OBJDUMP} -DSTRIP=${CMAKE_STRIP} -DTRANSLATIONS=${VQT_QT_TRANSLATIONS})

# In the build: beside every program in the one folder of programs (the
# preset's CMAKE_RUNTIME_OUTPUT_DIRECTORY), so that the window and its
# tests run there under Wine. The tests add themselves to vqt_windows_programs.
if(CMAKE_RUNTIME_OUTPUT_DIRECTORY)
  set(VQT_TEST_FONTS /usr/share/fonts/truetype/dejavu CACHE PATH
    "Fonts for the tests on the offscreen platform (fonts-dejavu-core)")
  get_property(vqt_programs GLOBAL PROPERTY vqt_windows_programs)
  if(TARGET tst_win32)
    list(APPEND vqt_programs tst_win32)
  endif()
  set(vqt_program_files $<TARGET_FILE:vqt540-monitor>)
  foreach(t ${vqt_programs})
    string(APPEND vqt_program_files "|$<TARGET_FILE:${t}>")
  endforeach()
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/windows-runtime.stamp
    COMMAND ${CMAKE_COMMAND} -DDEST=${CMAKE_RUNTIME_OUTPUT_DIRECTORY} -DPROGRAMS=${vqt_program_files}
            ${vqt_runtime_args} -DFONTS=${VQT_TEST_FONTS} -P ${PROJECT_SOURCE_DIR}/cmake/WindowsRuntime.cmake
    COMMAND ${CMAKE_COMMAND} -E touch ${PROJECT_BINARY_DIR}/windows-runtime.stamp
    DEPENDS vqt540-monitor ${vqt_programs} ${PROJECT_SOURCE_DIR}/cmake/WindowsRuntime.cmake
    COMMENT "Putting the DLLs, plugins and translations beside the Windows programs" VERBATIM)
  add_custom_target(vqt_windows_runtime ALL DEPENDS ${PROJECT_BINARY_DIR}/windows-runtime.stamp)
endif()

# In the installation: the window's own, found from the installed window.
install(TARGETS vqt540-monitor RUNTIME DESTINATION .)
install(CODE "
  execute_process(COMMAND \"${CMAKE_COMMAND}\" -DDEST=\${CMAKE_INSTALL_PREFIX}
    -DPROGRAMS=\${CMAKE_INSTALL_PREFIX}/vqt540-monitor.exe -DPLATFORMS=qwindows
    -DQT_PREFIX=${vqt_qt_prefix} -DSEARCH=${vqt_win_search} -DOBJDUMP=${CMAKE_OBJDUMP}
    -DSTRIP=${CMAKE_STRIP} -DTRANSLATIONS=${VQT_QT_TRANSLATIONS}
    -P \"${PROJECT_SOURCE_DIR}/cmake/WindowsRuntime.cmake\" COMMAND_ERROR_IS_FATAL ANY)")

# The MSI: what the installation holds, staged and listed by wixl-heat, and
# the product around it (packaging/windows/vqt540.wxs.in).
set(vqt_msi ${PROJECT_BINARY_DIR}/vqt540-${PROJECT_VERSION}-windows-x86_64.msi)
set(vqt_stage ${PROJECT_BINARY_DIR}/msi-stage)
configure_file(${vqt_packaging}/windows/vqt540.wxs.in ${PROJECT_BINARY_DIR}/vqt540.wxs @ONLY)
add_custom_target(msi
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${vqt_stage}
  COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${vqt_stage}
  COMMAND ${CMAKE_COMMAND} -DSTAGE=${vqt_stage} -DOUT=${PROJECT_BINARY_DIR}/vqt540-files.wxs
          -P ${PROJECT_SOURCE_DIR}/cmake/WindowsFiles.cmake
  # wixl takes every path relative to the current folder.
  COMMAND ${CMAKE_COMMAND} -E copy ${vqt_packaging}/icons/vqt540-monitor.ico ${PROJECT_BINARY_DIR}
  COMMAND wixl --arch x64 -D SourceDir=msi-stage -D Win64=yes -o ${vqt_msi}
          ${PROJECT_BINARY_DIR}/vqt540.wxs ${PROJECT_BINARY_DIR}/vqt540-files.wxs
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  DEPENDS vqt540 vqt540-monitor ${PROJECT_BINARY_DIR}/vqt540.wxs
  BYPRODUCTS ${vqt_msi}
  COMMENT "Making ${vqt_msi}" VERBATIM)
