# The header-only libraries the command line uses, from Debian's packages:
# CLI11 (libcli11-dev) parses the arguments, nlohmann/json
# (nlohmann-json3-dev) writes what scripts read. The Windows build compiles
# the same headers: it reaches them through a folder of the build tree that
# holds only links to their two folders, so that no other header of the
# build machine can stand in for one of MinGW's.
set(TARVIK_HEADER_LIBRARY_ROOT /usr/include CACHE PATH
    "Where the CLI and nlohmann header folders of the libcli11-dev and nlohmann-json3-dev packages are")
set(tarvik_header_links ${CMAKE_BINARY_DIR}/header-libraries)
file(MAKE_DIRECTORY ${tarvik_header_links})
foreach(entry "CLI;CLI.hpp;libcli11-dev" "nlohmann;json.hpp;nlohmann-json3-dev")
  list(GET entry 0 folder)
  list(GET entry 1 header)
  list(GET entry 2 package)
  if(NOT EXISTS ${TARVIK_HEADER_LIBRARY_ROOT}/${folder}/${header})
    message(FATAL_ERROR "${TARVIK_HEADER_LIBRARY_ROOT}/${folder}/${header} not found: install ${package} "
                        "(scripts/setup.sh)")
  endif()
  file(CREATE_LINK ${TARVIK_HEADER_LIBRARY_ROOT}/${folder} ${tarvik_header_links}/${folder} SYMBOLIC)
endforeach()
add_library(tarvik_header_libraries INTERFACE)
# As system headers: their own warnings are not this project's to fix.
target_include_directories(tarvik_header_libraries SYSTEM INTERFACE ${tarvik_header_links})
