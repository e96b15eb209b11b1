#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on a Debian machine,
# skipping what is already there.
set -euo pipefail
packages=(cmake ninja-build g++ clang clang-format libclang-rt-14-dev qt6-base-dev qt6-translations-l10n libgtest-dev libgmock-dev
          qt6-base-private-dev libbenchmark-dev xvfb xauth openbox fonts-dejavu-core python3-intelhex dpkg-dev
          g++-mingw-w64-x86-64-posix googletest wine64 fonts-wine libcli11-dev nlohmann-json3-dev lintian
          libudev-dev ser2net)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
