# The Windows folder (cmake --install, or cpack for a zip of it): the two
# programs with everything they load beside them, so the folder runs from
# wherever it lies (a USB stick) with nothing installed. Not installed, the
# program keeps its settings and reads update.ini beside itself.
#
# Qt comes as its DLLs (LGPLv3): a user may swap them for a build of Qt of
# their own. The folder carries Qt's licence texts and those of the C++
# runtime DLLs, both taken from the kit of scripts/qt-mingw.sh.
get_filename_component(tarvik_qt_prefix "${TARVIK_QT_BIN}" DIRECTORY)

install(TARGETS tarvikflash tarvik-cli RUNTIME DESTINATION .)
install(FILES
  ${TARVIK_QT_BIN}/Qt6Core.dll
  ${TARVIK_QT_BIN}/Qt6Gui.dll
  ${TARVIK_QT_BIN}/Qt6Widgets.dll
  ${TARVIK_QT_BIN}/libstdc++-6.dll
  ${TARVIK_QT_BIN}/libgcc_s_seh-1.dll
  ${TARVIK_QT_BIN}/libwinpthread-1.dll
  DESTINATION .)
# Debian's runtime DLLs and the kit's carry symbol tables no user needs;
# without them the folder is far smaller.
set(tarvik_stripped_dlls Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll libstdc++-6.dll libgcc_s_seh-1.dll
    libwinpthread-1.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll)
# Qt looks for its plugins beside the program too, as Windows tools that
# ship Qt lay them out.
install(FILES ${tarvik_qt_prefix}/plugins/platforms/qwindows.dll DESTINATION platforms)
install(FILES ${tarvik_qt_prefix}/plugins/styles/qwindowsvistastyle.dll DESTINATION styles)
install(FILES packaging/update.ini.example DESTINATION .)
install(FILES README.md DESTINATION .)
install(FILES packaging/copyright DESTINATION licenses RENAME tarvikflash.txt)
install(DIRECTORY ${tarvik_qt_prefix}/share/licenses/ DESTINATION licenses)
install(CODE "
  foreach(dll ${tarvik_stripped_dlls})
    execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${dll}\"
                    COMMAND_ERROR_IS_FATAL ANY)
  endforeach()")

# One target builds what cmake --install and cpack need, without the tests.
add_custom_target(tarvik_installable)
add_dependencies(tarvik_installable tarvikflash tarvik-cli)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tarvikflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME tarvikflash-${PROJECT_VERSION}-windows-x64)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool that reflashes Tarvik radio-channel alarm devices")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
