# One warning set for every target of the project.
function(tarvik_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
    -Wno-sign-conversion -Wnon-virtual-dtor -Woverloaded-virtual)
  if(TARVIK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
