#!/usr/bin/env bash
# Builds Qt for 64-bit Windows (MinGW-w64, POSIX threads) from Debian's own
# qt6-base source, against the host Qt that Debian installs for the tools
# (moc, rcc, uic). Debian ships no Qt for MinGW, so this is the only way to get
# the windows onto Windows from this machine.
#
# The kit lands in a cache folder named after Qt's version, the compiler's
# version and the configure flags, so a change to any of them builds a new kit
# and an unchanged one is reused. Prints the kit's folder on its last line.
#
#   scripts/qt-mingw.sh            build the kit unless it is cached
#   scripts/qt-mingw.sh --print    print the folder the kit would have, build nothing
set -euo pipefail

cache_root=${TARVIK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tarvik}
jobs=${TARVIK_QT_JOBS:-$(nproc)}
cross=x86_64-w64-mingw32

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

host_qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
if [ -z "$host_qt_version" ]; then
  echo "qt-mingw: the host Qt (qt6-base-dev) is missing; run scripts/setup.sh" >&2
  exit 1
fi
# The source must be the very version of the host tools it is built with.
qt_version=${host_qt_version%%+*}
gcc_version=$($cross-g++-posix -dumpversion)

# Only what the program and its tests use. Notes on the less obvious ones:
# - tabletevent off: Debian's repack dropped the bundled wintab headers the
#   Windows tablet support includes;
# - androiddeployqt off: Debian's cross-build patch would build it for Windows;
# - OpenGL off as configure's -no-opengl has it (the input, not only the
#   feature): dynamic OpenGL would stay on and the windows plugin would not
#   compile without OpenGL;
# - direct2d stays on: without it the windows plugin fails to link its
#   DirectWrite font database;
# - third-party libraries bundled, so the DLLs need nothing from the system;
#   the MinGW sysroot has a zlib that must not be picked up.
configure_flags=(
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF
  -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_thread=ON
  -DFEATURE_gui=ON
  -DFEATURE_widgets=ON
  -DFEATURE_testlib=ON
  -DFEATURE_concurrent=OFF
  -DFEATURE_xml=OFF
  -DFEATURE_sql=OFF
  -DFEATURE_network=OFF
  -DFEATURE_dbus=OFF
  -DFEATURE_printsupport=OFF
  -DINPUT_opengl=no
  -DFEATURE_opengl=OFF
  -DFEATURE_dynamicgl=OFF
  -DFEATURE_vulkan=OFF
  -DFEATURE_icu=OFF
  -DFEATURE_zstd=OFF
  -DFEATURE_jpeg=OFF
  -DFEATURE_tabletevent=OFF
  -DFEATURE_androiddeployqt=OFF
  -DFEATURE_direct2d=ON
  -DFEATURE_freetype=ON
  -DFEATURE_harfbuzz=ON
  -DFEATURE_png=ON
  -DFEATURE_system_zlib=OFF
  -DFEATURE_system_png=OFF
  -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_freetype=OFF
  -DFEATURE_system_doubleconversion=OFF
)

key=$(printf '%s\n' "$qt_version" "$gcc_version" "${configure_flags[@]}" | sha256sum | cut -c1-12)
kit="$cache_root/qt-mingw-$qt_version-gcc$gcc_version-$key"

if [ "${1:-}" = "--print" ]; then
  echo "$kit"
  exit 0
fi
# A kit counts only once its install finished: the marker is written last.
if [ -f "$kit/.complete" ]; then
  echo "$kit"
  exit 0
fi

# One build at a time (two test runs may start at once on one machine): a
# second waits and then finds the kit the first made.
mkdir -p "$cache_root"
exec 9>"$cache_root/qt-mingw.lock"
if ! flock -n 9; then
  echo "qt-mingw: another build of the kit is running; waiting for it"
  flock 9
  if [ -f "$kit/.complete" ]; then
    echo "$kit"
    exit 0
  fi
fi

started=$(date +%s)
echo "qt-mingw: building Qt $qt_version for $cross (gcc $gcc_version) into $kit"

# apt-get source needs a deb-src entry for the suite the host Qt came from.
src_list=/etc/apt/sources.list.d/tarvik-debian-src.sources
if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "qt-mingw: adding Debian's source entry ($src_list)"
  "${sudo_cmd[@]}" tee "$src_list" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  "${sudo_cmd[@]}" apt-get update -qq
fi

# The build folder outlives a failed build and serves any flags, so a change
# of flags rebuilds only what it touches (TARVIK_QT_WORK puts it elsewhere;
# Qt refuses a path through a symbolic link).
work=${TARVIK_QT_WORK:-$cache_root/qt-mingw-work-$qt_version-gcc$gcc_version}
mkdir -p "$work"
src="$work/qt6-base-$qt_version+dfsg"
if [ ! -f "$src/CMakeLists.txt" ]; then
  rm -rf "$work/src"
  mkdir -p "$work/src"
  (cd "$work/src" && apt-get source -qq "qt6-base=$host_qt_version")
  rm -rf "$src"
  mv "$work/src/qt6-base-$qt_version+dfsg" "$src"
  rm -rf "$work/src"
fi

cat >"$work/toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER $cross-gcc-posix)
set(CMAKE_CXX_COMPILER $cross-g++-posix)
set(CMAKE_RC_COMPILER $cross-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$cross)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF

build="$work/build"
rm -rf "$kit"
cmake -S "$src" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
  -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$kit" \
  "${configure_flags[@]}"
cmake --build "$build" --parallel "$jobs"
cmake --install "$build"

objects=$(find "$build" -name '*.obj' -o -name '*.o' | wc -l)

# The Qt DLLs load the compiler's C++ runtime as DLLs: keep them in the kit's
# bin/, so one folder on WINEPATH (or beside a program) serves everything.
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  cp "$($cross-g++-posix -print-file-name=$dll)" "$kit/bin/"
done
# The texts a shipped folder must carry: Qt's licences (LGPLv3 among them, and
# those of the third-party code built into the DLLs), Debian's account of
# who holds which part, and the licences of the C++ runtime DLLs.
licenses="$kit/share/licenses"
mkdir -p "$licenses/qt" "$licenses/mingw-runtime"
cp "$src"/LICENSES/*.txt "$licenses/qt/"
cp "$src/debian/copyright" "$licenses/qt/debian-copyright"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$licenses/mingw-runtime/gcc-copyright"
cp /usr/share/doc/mingw-w64-common/copyright "$licenses/mingw-runtime/mingw-w64-copyright"
elapsed=$(($(date +%s) - started))
echo "qt $qt_version gcc $gcc_version built $(date -u +%FT%TZ) in ${elapsed}s, $objects objects" >"$kit/.complete"
rm -rf "$work"
echo "qt-mingw: kit built in $((elapsed / 60)) min $((elapsed % 60)) s, $objects objects, $(du -sh "$kit" | cut -f1)"
echo "$kit"
