# Embedding of data files into the program.
#
#   tarvik_embed_resources(TARGET <target> [BASE_DIR <dir>] FILES <name>=<path> ...)
#
# Each file becomes a read-only block of the target, listed at run time by
# EmbeddedResources (common/resources.h): a <name> made of digits only is a
# numbered resource (also found with FindResource), any other <name> a named
# one. Relative paths are taken
# from BASE_DIR (default: the calling directory).
#
# The bytes travel as string literals of a generated C++ file, so every
# compiler and object format takes them the same way (ELF on Linux, PE on
# Windows) and a megabyte or two still compiles in a fraction of a second.
# The file is generated at build time (cmake/ResourceSource.cmake) and again
# whenever one of the embedded files changes.

set(TARVIK_RESOURCE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/ResourceSource.cmake)

function(tarvik_embed_resources)
  cmake_parse_arguments(R "" "TARGET;BASE_DIR" "FILES" ${ARGN})
  if(NOT R_TARGET OR NOT R_FILES)
    message(FATAL_ERROR "tarvik_embed_resources: TARGET and FILES are required")
  endif()
  if(NOT R_BASE_DIR)
    set(R_BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()

  # For the generator: one call per resource with its name, number and path.
  set(manifest "")
  set(deps "")
  foreach(entry IN LISTS R_FILES)
    string(FIND "${entry}" "=" eq)
    if(eq LESS 1)
      message(FATAL_ERROR "tarvik_embed_resources: '${entry}' is not <name>=<path>")
    endif()
    string(SUBSTRING "${entry}" 0 ${eq} name)
    math(EXPR from "${eq} + 1")
    string(SUBSTRING "${entry}" ${from} -1 path)
    cmake_path(ABSOLUTE_PATH path BASE_DIRECTORY ${R_BASE_DIR} NORMALIZE)
    if(NOT EXISTS ${path})
      message(FATAL_ERROR "tarvik_embed_resources: ${path} does not exist")
    endif()
    if(NOT name MATCHES "^[A-Za-z0-9_.-]+$")
      message(FATAL_ERROR "tarvik_embed_resources: resource name '${name}' may hold only letters, digits, _ . -")
    endif()
    if(name MATCHES "^[0-9]+$")
      math(EXPR number "${name}")
      set(label "")
    else()
      set(number 0)
      set(label "${name}")
    endif()
    string(APPEND manifest "tarvik_resource([==[${label}]==] ${number} [==[${path}]==])\n")
    list(APPEND deps ${path})
  endforeach()

  set(out ${CMAKE_CURRENT_BINARY_DIR}/${R_TARGET}_resources)
  # Rewritten only when it changes, so a new configure does not embed again.
  file(WRITE ${out}.cmake.new "${manifest}")
  file(COPY_FILE ${out}.cmake.new ${out}.cmake ONLY_IF_DIFFERENT)
  file(REMOVE ${out}.cmake.new)
  add_custom_command(
    OUTPUT ${out}.cpp
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${out}.cmake -DOUTPUT=${out}.cpp -P ${TARVIK_RESOURCE_SCRIPT}
    DEPENDS ${deps} ${out}.cmake ${TARVIK_RESOURCE_SCRIPT}
    COMMENT "Embedding ${R_TARGET} resources"
    VERBATIM)
  # The literals are longer than the least a compiler must take, which every
  # compiler this project builds with takes all the same.
  set_source_files_properties(${out}.cpp TARGET_DIRECTORY ${R_TARGET} PROPERTIES
    COMPILE_OPTIONS "$<$<NOT:$<CXX_COMPILER_ID:MSVC>>:-Wno-overlength-strings>")
  target_sources(${R_TARGET} PRIVATE ${out}.cpp)
  # The rule lives in the calling directory, which need not be the target's.
  add_custom_target(${R_TARGET}_resources DEPENDS ${out}.cpp)
  add_dependencies(${R_TARGET} ${R_TARGET}_resources)
endfunction()
