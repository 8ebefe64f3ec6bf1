# Header-only libraries from Debian's packages, for both builds: CLI11 (the
# command line of packtool) and nlohmann-json (its JSON documents). The win32
# build must not search the host's include folder as a whole, whose C library
# headers would shadow MinGW's: each library's own folder is linked into a
# folder of the build, and only that one is searched.

# restore_header_library(TARGET HEADER PACKAGE): HEADER as the code includes
# it ("CLI/CLI.hpp"); PACKAGE names the Debian package in the error.
function(restore_header_library target header package)
  string(REGEX REPLACE "/.*" "" top "${header}")
  find_path(${target}_ROOT ${header} PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${target}_ROOT)
    message(FATAL_ERROR "${header} not found: run scripts/setup (Debian package ${package})")
  endif()
  set(folder ${CMAKE_BINARY_DIR}/header-libraries/${target})
  file(MAKE_DIRECTORY ${folder})
  file(CREATE_LINK ${${target}_ROOT}/${top} ${folder}/${top} SYMBOLIC)
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${folder})
endfunction()

restore_header_library(cli11 CLI/CLI.hpp libcli11-dev)
restore_header_library(json nlohmann/json.hpp nlohmann-json3-dev)
