# Cross build for 64-bit Windows with Debian's MinGW-w64 (the POSIX-thread
# flavour, so std::thread works):
#   cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DTARVIK_WITH_UI=OFF
# With the windows, against the Qt for MinGW of scripts/qt-mingw.sh:
#   cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
#     -DCMAKE_PREFIX_PATH=$(scripts/qt-mingw.sh --print)
# Test programs run through Wine; ctest starts them with the emulator below.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
# A Qt for MinGW named in CMAKE_PREFIX_PATH lives outside the MinGW root;
# its tools (moc, uic, rcc) are the host Qt's, which Debian installs.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})
set(QT_HOST_PATH /usr CACHE PATH "The host Qt whose tools a Qt for MinGW uses")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "CMake files of the host Qt")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian installs the 64-bit loader off the PATH.
find_program(TARVIK_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TARVIK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVIK_WINE})
endif()

# How programs get their C++ runtime (carried, or as DLLs beside Qt's) is the
# project's choice: cmake/WindowsRuntime.cmake.
