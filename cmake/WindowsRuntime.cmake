# The C++ runtime of the Windows programs.
#
# Without Qt, every program carries its runtime (-static), so Wine or a
# Windows PC needs no MinGW DLLs beside it. The Qt for MinGW of
# scripts/qt-mingw.sh is a set of DLLs that load the runtime as DLLs
# (libstdc++-6, libgcc_s_seh-1, libwinpthread-1, kept in the kit's bin/):
# there every program uses those too, so one runtime serves all the modules of
# a process and the shipped folder holds one copy of it.
if(TARVIK_WITH_UI)
  get_target_property(tarvik_qt_core_type Qt6::Core TYPE)
  if(tarvik_qt_core_type STREQUAL "STATIC_LIBRARY")
    message(FATAL_ERROR "A static Qt for MinGW is not supported: use the shared kit of scripts/qt-mingw.sh")
  endif()
  # Wine finds the DLLs of the test programs through WINEPATH: the kit's
  # bin/ holds Qt's and the runtime's. ctest starts every test program (and
  # lists its cases) through the emulator, so it carries the path.
  get_target_property(tarvik_qt_core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
  get_filename_component(TARVIK_QT_BIN "${tarvik_qt_core_dll}" DIRECTORY)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(TARVIK_ENV env REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVIK_ENV} "WINEPATH=Z:${TARVIK_QT_BIN}" ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
else()
  add_link_options(-static)
endif()
