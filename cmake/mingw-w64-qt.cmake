# Windows x86-64 with the window: the project's mingw-w64 toolchain under the
# Qt for Windows that tools/build-qt-mingw.sh builds once into its cache. The
# prefix is VQT_QT_MINGW from the environment, else where the script puts it.
if(NOT DEFINED ENV{VQT_QT_MINGW})
  execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../tools/build-qt-mingw.sh --print-prefix
    OUTPUT_VARIABLE vqt_qt_prefix OUTPUT_STRIP_TRAILING_WHITESPACE)
  # Set for the try_compile runs, which read this file again.
  set(ENV{VQT_QT_MINGW} "${vqt_qt_prefix}")
endif()
set(vqt_qt_prefix "$ENV{VQT_QT_MINGW}")
if(NOT EXISTS "${vqt_qt_prefix}/.vqt540-complete")
  message(FATAL_ERROR "No Qt for Windows at '${vqt_qt_prefix}': build it once with "
    "tools/build-qt-mingw.sh (30-45 minutes), or set VQT_QT_MINGW to its prefix.")
endif()

set(QT_CHAINLOAD_TOOLCHAIN_FILE ${CMAKE_CURRENT_LIST_DIR}/mingw-w64-posix.cmake)
set(QT_HOST_PATH /usr CACHE PATH "The host's Qt, whose moc, rcc and uic the cross build runs")
include(${vqt_qt_prefix}/lib/cmake/Qt6/qt.toolchain.cmake)
# Qt's DLLs use libstdc++-6.dll, so must everything that loads them: one C++
# runtime in a process. The tool alone is still linked statically
# (WindowsPackage.cmake).
set(CMAKE_EXE_LINKER_FLAGS_INIT "")
