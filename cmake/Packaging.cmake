# Installing the program (cmake --install) and the Debian package (cpack).
# The installed tree is what tells the program it is installed: it keeps the
# settings of each user in ~/.config/tarvikflash instead of beside itself
# when PREFIX/share/tarvikflash exists next to its PREFIX/bin.
include(GNUInstallDirs)

# The icon, drawn by a small tool at the sizes the icon theme knows.
set(TARVIK_ICON_SIZES 16 24 32 48 64 128 256)
add_executable(tarvik-icongen ${PROJECT_SOURCE_DIR}/tools/icongen/icongen.cpp)
target_link_libraries(tarvik-icongen PRIVATE Qt6::Gui)
tarvik_warnings(tarvik-icongen)
set(tarvik_icon_args "")
set(tarvik_icon_files "")
foreach(size IN LISTS TARVIK_ICON_SIZES)
  set(file ${CMAKE_BINARY_DIR}/icons/tarvikflash-${size}.png)
  list(APPEND tarvik_icon_args ${size} ${file})
  list(APPEND tarvik_icon_files ${file})
endforeach()
add_custom_command(OUTPUT ${tarvik_icon_files}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons
  COMMAND tarvik-icongen ${tarvik_icon_args}
  DEPENDS tarvik-icongen
  COMMENT "Drawing the program's icon"
  VERBATIM)
add_custom_target(tarvik_icons ALL DEPENDS ${tarvik_icon_files})

install(TARGETS tarvikflash RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES packaging/tarvikflash.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size IN LISTS TARVIK_ICON_SIZES)
  install(FILES ${CMAKE_BINARY_DIR}/icons/tarvikflash-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tarvikflash.png)
endforeach()
install(FILES packaging/update.ini.example DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvikflash)
install(FILES README.md packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(TARVIK_PACKAGE_MAINTAINER "Tarvik service tool maintainers <service@tarvik.example>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvikflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool that reflashes Tarvik radio-channel alarm devices")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARVIK_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary above is the synopsis line; this is only what follows it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A technician plugs one device of the Tarvik system (receiver, door, motion
and smoke detectors, call points, glass-break sensors, key fobs, keypads)
into a serial port. The tool identifies its firmware, decides from its
built-in catalogue of firmware images and optional update rules which image
to write, and reflashes the device through its bootloader. Two programs:
tarvikflash, the windowed tool, and tarvik-cli, which does the same from a
shell for benches and scripts.
.
Settings are kept in ~/.config/tarvikflash; update rules for every user of
the machine go to /etc/tarvikflash/update.ini. The user needs access to the
serial port (on Debian, membership of the dialout group).")
# The libraries the program links come from dpkg-shlibdeps. The X11 platform
# plugin is loaded by Qt at run time, so no linker sees it, and its package is
# only recommended by Qt's: without it the program cannot open a window. Qt
# finds the icon in the hicolor theme only through the theme's index, which
# a system without a desktop may lack.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, hicolor-icon-theme")
# Every folder and file as Debian's policy has them, whatever the umask of
# the machine that builds the package.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)

# The manual pages and the package's change log, compressed as Debian keeps
# them: gzip -9n, without the file's name and time, so that a rebuild gives
# the same bytes.
find_program(TARVIK_GZIP gzip REQUIRED)
set(tarvik_docs ${CMAKE_BINARY_DIR}/packaging)
configure_file(packaging/changelog.Debian.in ${tarvik_docs}/changelog.Debian @ONLY)
# The pages name the version they belong to.
configure_file(packaging/tarvik-cli.1 ${tarvik_docs}/tarvik-cli.1 @ONLY)
configure_file(packaging/tarvikflash.1 ${tarvik_docs}/tarvikflash.1 @ONLY)
set(tarvik_compressed "")
foreach(source IN ITEMS ${tarvik_docs}/tarvik-cli.1 ${tarvik_docs}/tarvikflash.1 ${tarvik_docs}/changelog.Debian)
  get_filename_component(name ${source} NAME)
  set(target ${tarvik_docs}/${name}.gz)
  add_custom_command(OUTPUT ${target}
    COMMAND sh -c "\"$1\" -9nc \"$2\" > \"$3\"" gzip ${TARVIK_GZIP} ${source} ${target}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND tarvik_compressed ${target})
endforeach()
add_custom_target(tarvik_docs ALL DEPENDS ${tarvik_compressed})
install(FILES ${tarvik_docs}/tarvik-cli.1.gz ${tarvik_docs}/tarvikflash.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${tarvik_docs}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# Everything the rules above install, so that one target builds what
# cmake --install and cpack need, without the tests.
add_custom_target(tarvik_installable)
add_dependencies(tarvik_installable tarvikflash tarvik-cli tarvik_icons tarvik_docs)

include(CPack)
