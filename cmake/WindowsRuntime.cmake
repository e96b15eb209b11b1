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
  get_target_property(tarvik_qt_core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
  get_filename_component(TARVIK_QT_BIN "${tarvik_qt_core_dll}" DIRECTORY)
  # Wine finds the DLLs of the programs of this build through WINEPATH: the
  # kit's bin/ holds Qt's and the runtime's. ctest starts every test program
  # (and lists its cases) through the emulator, and the scripted tests take
  # it as one word, so it is a small script that sets the path.
  # Qt's offscreen platform on Windows reads its fonts from a folder, as on
  # Linux without fontconfig: the window tests get the fonts they have on
  # Linux.
  set(TARVIK_WINE_FONT_DIR /usr/share/fonts/truetype/dejavu CACHE PATH
      "Fonts of the offscreen window tests under Wine")
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 tarvik_wine)
    set(tarvik_wine_with_qt ${CMAKE_BINARY_DIR}/wine-with-qt)
    file(CONFIGURE OUTPUT ${tarvik_wine_with_qt} CONTENT "#!/bin/sh
export WINEPATH='Z:${TARVIK_QT_BIN}'
export QT_QPA_FONTDIR=\"\${QT_QPA_FONTDIR:-Z:${TARVIK_WINE_FONT_DIR}}\"
exec '${tarvik_wine}' \"$@\"
" @ONLY)
    file(CHMOD ${tarvik_wine_with_qt} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
         WORLD_READ WORLD_EXECUTE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${tarvik_wine_with_qt})
  endif()
else()
  add_link_options(-static)
endif()
