# Debian's CLI11 and nlohmann-json are header-only, so the host's copies
# serve a cross build too. Their own package files would put the whole of
# /usr/include on the cross compiler's path, ahead of its own C library, so
# the cross build finds them through small packages of its own that show
# just their two folders.
set(VQT_HOST_INCLUDE /usr/include CACHE PATH "Where the host's CLI and nlohmann header folders are")
set(vqt_host_dir ${PROJECT_BINARY_DIR}/host-header-only)
file(MAKE_DIRECTORY ${vqt_host_dir}/include)
foreach(entry "CLI11|CLI|CLI11::CLI11" "nlohmann_json|nlohmann|nlohmann_json::nlohmann_json")
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 package)
  list(GET entry 1 folder)
  list(GET entry 2 target)
  if(NOT EXISTS ${VQT_HOST_INCLUDE}/${folder})
    message(FATAL_ERROR "${VQT_HOST_INCLUDE}/${folder} is missing: install libcli11-dev and nlohmann-json3-dev")
  endif()
  file(CREATE_LINK ${VQT_HOST_INCLUDE}/${folder} ${vqt_host_dir}/include/${folder} SYMBOLIC)
  file(WRITE ${vqt_host_dir}/${package}/${package}Config.cmake
    "if(NOT TARGET ${target})\n"
    "  add_library(${target} INTERFACE IMPORTED)\n"
    "  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${vqt_host_dir}/include\")\n"
    "endif()\n")
  set(${package}_DIR ${vqt_host_dir}/${package} CACHE PATH "" FORCE)
endforeach()
