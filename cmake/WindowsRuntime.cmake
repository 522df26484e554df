# Puts beside Windows programs everything they load that Windows does not
# have: the DLLs their imports name (and those the DLLs name in turn), found
# by the cross objdump, never by a list kept by hand; the Qt platform
# plugins with their own DLLs (the window sets the Fusion style, which is
# Qt's own, so no style plugin is loaded); Qt's Polish
# translations; and qt.conf, so that Qt looks for them there.
#
#   cmake -DDEST=dir -DPROGRAMS=a.exe|b.exe -DQT_PREFIX=... -DOBJDUMP=...
#         -DSTRIP=... -DSEARCH=dir|dir -DTRANSLATIONS=qtbase_pl.qm
#         [-DPLATFORMS=qwindows|qoffscreen] [-DFONTS=dir] -P WindowsRuntime.cmake
#
# FONTS: for the offscreen platform, which has no system fonts on Windows
# and looks for them in lib/fonts.
cmake_minimum_required(VERSION 3.25)
foreach(var DEST PROGRAMS QT_PREFIX OBJDUMP STRIP SEARCH TRANSLATIONS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "WindowsRuntime.cmake: ${var} is not set")
  endif()
endforeach()
foreach(var PROGRAMS SEARCH TRANSLATIONS PLATFORMS)
  string(REPLACE "|" ";" ${var} "${${var}}")
endforeach()
if(NOT PLATFORMS)
  set(PLATFORMS qwindows qoffscreen)
endif()

# What Wine has of its own is what Windows has: a DLL found neither in the
# search folders nor there is missing, and that is an error here, not a
# program that silently does not start.
set(vqt_wine_dlls /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)

set(plugins)
foreach(p IN LISTS PLATFORMS)
  list(APPEND plugins "platforms/${p}.dll")
endforeach()
set(modules)
foreach(p IN LISTS plugins)
  get_filename_component(folder "${p}" DIRECTORY)
  file(COPY "${QT_PREFIX}/plugins/${p}" DESTINATION "${DEST}/${folder}")
  list(APPEND modules "${DEST}/${p}")
endforeach()

# CMake takes Windows' names in lower case and then looks for them as such,
# which on Linux misses Qt6Core.dll: it looks in a folder of lower-case
# links to the search folders' DLLs instead.
set(lower "${DEST}/.dll-names")
file(REMOVE_RECURSE "${lower}")
file(MAKE_DIRECTORY "${lower}")
foreach(dir IN LISTS SEARCH)
  file(GLOB dlls "${dir}/*.dll")
  foreach(dll IN LISTS dlls)
    get_filename_component(name "${dll}" NAME)
    string(TOLOWER "${name}" name)
    if(NOT EXISTS "${lower}/${name}")
      file(CREATE_LINK "${dll}" "${lower}/${name}" SYMBOLIC)
    endif()
    # The programs' own folder is searched too: a copy from an earlier run
    # (stripped, so not the same file) would be a second candidate.
    get_filename_component(name "${dll}" NAME)
    file(REMOVE "${DEST}/${name}")
  endforeach()
endforeach()

set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM "windows+pe")
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL "objdump")
set(CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND "${OBJDUMP}")
file(GET_RUNTIME_DEPENDENCIES
  EXECUTABLES ${PROGRAMS}
  MODULES ${modules}
  RESOLVED_DEPENDENCIES_VAR found
  UNRESOLVED_DEPENDENCIES_VAR unresolved
  DIRECTORIES "${lower}"
  # API sets are names that the loader maps onto its own DLLs.
  PRE_EXCLUDE_REGEXES "^[Aa][Pp][Ii]-[Mm][Ss]-" "^[Ee][Xx][Tt]-[Mm][Ss]-")
foreach(dll IN LISTS unresolved)
  string(TOLOWER "${dll}" lower_name)
  file(GLOB own "${vqt_wine_dlls}/${lower_name}")
  if(NOT own)
    message(FATAL_ERROR "${dll}: imported, found neither in ${SEARCH} nor in Windows")
  endif()
endforeach()
set(copied)
foreach(link IN LISTS found)
  file(REAL_PATH "${link}" dll)
  get_filename_component(name "${dll}" NAME)
  file(COPY "${dll}" DESTINATION "${DEST}")
  # The compiler's runtime comes with its symbols (libstdc++ is 23 MB).
  execute_process(COMMAND "${STRIP}" --strip-unneeded "${DEST}/${name}" COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND copied "${name}")
endforeach()

if(FONTS)
  file(GLOB ttf "${FONTS}/*.ttf")
  file(COPY ${ttf} DESTINATION "${DEST}/lib/fonts")
endif()
file(MAKE_DIRECTORY "${DEST}/translations")
foreach(qm IN LISTS TRANSLATIONS)
  file(COPY "${qm}" DESTINATION "${DEST}/translations")
endforeach()
# Qt's own prefix is a path of the build machine: paths relative to the
# program instead (plugins are looked for beside it anyway).
file(WRITE "${DEST}/qt.conf" "[Paths]\r\nPrefix = .\r\nPlugins = .\r\nTranslations = translations\r\n")
file(REMOVE_RECURSE "${lower}")
list(SORT copied)
string(REPLACE ";" " " copied "${copied}")
message(STATUS "Beside the programs in ${DEST}: ${copied}")
