#!/usr/bin/env bash
# The Windows folder of the tool, made on a Debian machine: installs what is
# missing, builds the Qt for MinGW unless it is cached (scripts/qt-mingw.sh,
# about half an hour the first time), cross-builds the programs and lets
# CPack lay out the folder and its zip under out/windows/:
#   out/windows/tarvikflash-VERSION-windows-x64/      the folder, to copy as it is
#   out/windows/tarvikflash-VERSION-windows-x64.zip   the same, zipped
#
#   scripts/windows.sh                  the folder and the zip
#   scripts/windows.sh --picture FILE   then starts the folder's tarvikflash.exe
#                                       under Wine on Xvfb, in a Wine desktop
#                                       that draws the windows' frames as
#                                       Windows does, and saves the screen as
#                                       FILE (PNG) after a few seconds
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
picture=
if [ "${1:-}" = "--picture" ]; then
  picture=$(realpath -m "${2:?--picture needs a file}")
fi
scripts/setup.sh

kit=$(scripts/qt-mingw.sh | tail -1)
build=build/windows
# Each target's files compiled as one unit, as the test stages do: the folder
# is ready in half the time. Everyday builds compile file by file.
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$kit" -DTARVIK_BENCH=OFF -DCMAKE_UNITY_BUILD=ON >/dev/null
ninja -C "$build" tarvik_installable

out=out/windows
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
name=tarvikflash-$version-windows-x64
rm -rf "${out:?}/$name" "$out/$name.zip" "$out/_CPack_Packages"
(cd "$build" && cpack -G ZIP -B "$root/$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
(cd "$out" && python3 -m zipfile -e "$name.zip" .)

echo "The Windows folder: $out/$name ($(du -sh "$out/$name" | cut -f1); zipped $(du -h "$out/$name.zip" | cut -f1))"
(cd "$out/$name" && find . -type f | sort | sed 's|^\./|  |')

[ -n "$picture" ] || exit 0
# The screen is taken with xwd and written as PNG with netpbm.
for p in x11-apps netpbm; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    DEBIAN_FRONTEND=noninteractive $([ "$(id -u)" -eq 0 ] || echo sudo) apt-get install -y -qq --no-install-recommends "$p"
done
# A Wine prefix of its own, so the folder starts as on a PC that never saw it.
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
export WINEPREFIX=$root/$build/picture-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ ! -d "$WINEPREFIX" ] || "$server" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
"$wine" wineboot --init >/dev/null 2>&1
shot=$(mktemp -d)
# Wine's desktop window (explorer /desktop) draws title bars and borders itself.
xvfb-run -a -s "-screen 0 1600x900x24" sh -c '
  "$1" explorer /desktop=tarvik,1600x900 "$2" >"$3/run.log" 2>&1 &
  sleep "${TARVIK_PICTURE_SECONDS:-20}"
  xwd -root -silent -out "$3/screen.xwd"
  "$4" -k
' sh "$wine" "Z:$root/$out/$name/tarvikflash.exe" "$shot" "$server"
xwdtopnm "$shot/screen.xwd" 2>/dev/null | pnmtopng >"$picture"
rm -rf "$shot"
echo "tarvikflash.exe started from the folder under Wine; the screen: $picture"
