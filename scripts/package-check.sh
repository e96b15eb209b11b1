#!/usr/bin/env bash
# Builds the Debian package, has lintian check it (an error fails), and tries
# it on a clean Debian 12: a minimal
# debootstrap of bookworm (made once and kept under build/package-check, so a
# second run only copies it), the package installed there with apt and no
# recommended packages (so its declared dependencies alone must do), then the
# installed program started under Xvfb, once as an ordinary user and once as
# root, each with a fresh home folder. Each run must show its windows and, when
# closed the way a user closes it (Escape on the connection dialog, then
# "Выход", Ctrl+X), leave current.ini and windows.ini in the user's
# configuration folder and nothing under /usr.
#
# Needs root (debootstrap, chroot, mounts) and Debian's package mirror; takes
# minutes, so it is not part of scripts/test.sh. The mirror is the one the
# machine's own apt uses, or TARVIK_DEBIAN_MIRROR. Screenshots go to
# build/package-check/. Ends with one line "package-check: N passed, N failed".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ "$(id -u)" -eq 0 ] || { echo "package-check: run as root (debootstrap, chroot and mounts need it)"; exit 1; }

scripts/setup.sh
extra=(dpkg-dev debootstrap xdotool x11-apps x11-utils netpbm)
missing=()
for p in "${extra[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

work=$root/build/package-check
base=$work/debian12-base
target=$work/root
display_number=${TARVIK_CHECK_DISPLAY:-87}
display=:$display_number
mkdir -p "$work"

passed=0
failed=0
check() {  # description command...
  local what=$1
  shift
  if "$@"; then
    echo "PASS: $what"
    passed=$((passed + 1))
  else
    echo "FAIL: $what"
    failed=$((failed + 1))
  fi
}

xvfb_pid=""
unmount_target() {
  local m
  # Deepest first; lazily, so a process still holding one cannot stop it.
  for m in $(findmnt -rn -o TARGET | grep -F "$target/" | sort -r); do umount -l "$m" || true; done
}
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  unmount_target
}
trap cleanup EXIT

echo "== the package (Release)"
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVIK_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
ninja -C build/package -j"$(nproc)" tarvik_installable
rm -f build/package/tarvikflash_*.deb
(cd build/package && cpack -G DEB >/dev/null)
deb=$(ls build/package/tarvikflash_*.deb)
echo "$deb"
dpkg-deb -f "$deb" Package Version Architecture Section Maintainer Depends
dpkg-deb -c "$deb" | awk '{print $6}'

echo "== lintian"
# Errors fail the check; warnings and the rest are shown.
set +e
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1
lintian_rc=$?
set -e
grep -v 'running with root privileges' "$work/lintian.log" || true
check "lintian finds no error in the package" test "$lintian_rc" -eq 0

echo "== a clean Debian 12"
mirror=${TARVIK_DEBIAN_MIRROR:-}
if [ -z "$mirror" ] && [ -f /etc/apt/sources.list.d/debian.sources ]; then
  mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
fi
if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
  mirror=$(awk '$1 == "deb" && $3 == "bookworm" {print $2; exit}' /etc/apt/sources.list)
fi
[ -n "$mirror" ] || { echo "package-check: no Debian mirror found; set TARVIK_DEBIAN_MIRROR"; exit 1; }
if [ ! -f "$base/.complete" ]; then
  rm -rf "$base" "$base.tmp"
  echo "debootstrap --variant=minbase bookworm (once; kept in $base)"
  debootstrap --variant=minbase bookworm "$base.tmp" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -20 "$work/debootstrap.log"; exit 1; }
  touch "$base.tmp/.complete"
  mv "$base.tmp" "$base"
fi
unmount_target
if findmnt -rn -o TARGET | grep -qF "$target/"; then
  echo "package-check: something is still mounted under $target; not removing it"
  exit 1
fi
rm -rf "$target"
cp -a "$base" "$target"
rm -f "$target/.complete"
# The same suites as this machine (updates and security as well) when it
# describes them in the one-file form; otherwise debootstrap's own line.
if [ -z "${TARVIK_DEBIAN_MIRROR:-}" ] && [ -f /etc/apt/sources.list.d/debian.sources ]; then
  cp /etc/apt/sources.list.d/debian.sources "$target/etc/apt/sources.list.d/"
  : >"$target/etc/apt/sources.list"
fi
cp /etc/resolv.conf "$target/etc/resolv.conf"
mount -t proc proc "$target/proc"
mount -t sysfs -o ro sysfs "$target/sys"
in_target() { chroot "$target" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }

echo "== installing with apt"
cp "$deb" "$target/tmp/"
in_target apt-get update -qq
set +e
in_target env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  "/tmp/$(basename "$deb")" >"$work/apt-install.log" 2>&1
apt_rc=$?
set -e
grep -E "newly installed|^Setting up tarvikflash" "$work/apt-install.log" || true
check "apt installs the package with its declared dependencies" test "$apt_rc" -eq 0
((apt_rc == 0)) || { tail -30 "$work/apt-install.log"; echo "package-check: $passed passed, $failed failed"; exit 1; }
for f in /usr/bin/tarvikflash /usr/bin/tarvik-cli /usr/share/applications/tarvikflash.desktop \
  /usr/share/icons/hicolor/48x48/apps/tarvikflash.png /usr/share/tarvikflash/update.ini.example \
  /usr/share/man/man1/tarvik-cli.1.gz /usr/share/man/man1/tarvikflash.1.gz \
  /usr/share/doc/tarvikflash/copyright /usr/share/doc/tarvikflash/changelog.Debian.gz; do
  check "installed $f" test -f "$target$f"
done

echo "== the installed tarvik-cli"
# As an ordinary user would run it on a bench: the catalogue is embedded, so
# it lists all 26 images without any file beside it; --help ends in the exit
# codes; a port that is not there is exit code 3.
in_target useradd --create-home --shell /bin/bash technician
as_technician() { chroot --userspec="$(in_target id -u technician):$(in_target id -g technician)" "$target" \
  /usr/bin/env -i HOME=/home/technician PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }
set +e
cli_images=$(as_technician tarvik-cli images 2>&1)
cli_images_rc=$?
cli_help=$(as_technician tarvik-cli --help 2>&1)
cli_help_rc=$?
cli_missing=$(as_technician tarvik-cli identify /dev/ttyTarvikMissing 2>&1)
cli_missing_rc=$?
cli_version=$(as_technician tarvik-cli --version 2>&1)
cli_version_rc=$?
set -e
echo "$cli_images" | head -3
check "tarvik-cli images: exit code 0" test "$cli_images_rc" -eq 0
check "tarvik-cli images: 26 images, the first VER 14.001.042" \
  bash -c '[ "$(echo "$1" | wc -l)" -eq 26 ] && echo "$1" | head -1 | grep -q "^  1  VER 14.001.042"' _ "$cli_images"
check "tarvik-cli --help: exit code 0, ends with the exit codes" \
  bash -c '[ "$1" -eq 0 ] && echo "$2" | grep -q "^Коды завершения:"' _ "$cli_help_rc" "$cli_help"
echo "$cli_missing"
check "tarvik-cli identify on a missing port: exit code 3" test "$cli_missing_rc" -eq 3
check "tarvik-cli --version: exit code 0, the name and the package's version" \
  bash -c '[ "$1" -eq 0 ] && [ "$2" = "tarvik-cli $3" ]' _ "$cli_version_rc" "$cli_version" \
  "$(dpkg-deb -f "$deb" Version | sed 's/-[^-]*$//')"

echo "== running the installed program under Xvfb"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X$display_number" ] && break; sleep 0.1; done
[ -S "/tmp/.X11-unix/X$display_number" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
# The chroot reaches the server by its abstract socket, which belongs to the
# network, not to the file system, so nothing of the host is mounted in.

window_with_title() {  # title-pattern: prints the id of the visible window
  local id
  for _ in $(seq 150); do
    id=$(DISPLAY=$display xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

run_installed() {  # label user home [fresh|kept]
  local label=$1 user=$2 home=$3 start=${4:-fresh}
  local marker=$work/marker-$label
  : >"$marker"
  echo "-- as $user, HOME=$home ($start)"
  if [ "$start" = fresh ]; then
    rm -rf "$target$home"
    mkdir -p "$target$home"
    in_target chown "$user:$user" "$home"
  fi
  local ids
  ids="$(in_target id -u "$user"):$(in_target id -g "$user")"
  chroot --userspec="$ids" "$target" /usr/bin/env -i HOME="$home" DISPLAY="$display" \
    PATH=/usr/bin:/bin LANG=C.UTF-8 /usr/bin/tarvikflash >"$work/run-$label.log" 2>&1 &
  local pid=$!
  local dialog main
  dialog=$(window_with_title "^Соединение$") || dialog=""
  main=$(window_with_title "Программа перепрошивки радиоканальной системы Тарвик") || main=""
  check "$label: the main window appeared" test -n "$main"
  check "$label: the connection dialog opened at start" test -n "$dialog"
  if [ "$start" = kept ] && [ -n "$main" ]; then
    check "$label: the window opens where the kept windows.ini puts it" \
      bash -c "DISPLAY=$display xdotool getwindowgeometry $main | grep -q 'Position: 40,60 '"
  fi
  sleep 1
  # Without a window manager a dialog shown over the main window at start
  # stays unpainted on this server; moved clear of it, it paints, so the
  # screenshot shows both.
  if [ -n "$dialog" ] && [ -n "$main" ]; then
    local X Y HEIGHT
    eval "$(DISPLAY=$display xdotool getwindowgeometry --shell "$main" | grep -E '^(X|Y|HEIGHT)=')"
    DISPLAY=$display xdotool windowmove "$dialog" "$((X + 160))" "$((Y + HEIGHT + 40))" || true
    sleep 0.5
  fi
  DISPLAY=$display xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$work/screen-$label.png"
  echo "screenshot: $work/screen-$label.png"
  if [ -n "$main" ]; then
    check "$label: the window carries the installed icon" \
      bash -c "DISPLAY=$display xprop -id $main _NET_WM_ICON | grep -q 'Icon ('"
  fi
  # Closed as a user would: Escape leaves the dialog, Ctrl+X is "Выход".
  if [ -n "$dialog" ]; then
    DISPLAY=$display xdotool windowfocus --sync "$dialog" key Escape || true
  fi
  sleep 0.5
  if [ -n "$main" ]; then
    DISPLAY=$display xdotool windowfocus --sync "$main" key ctrl+x || true
  fi
  local ended=no
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || { ended=yes; break; }
    sleep 0.1
  done
  if [ "$ended" = no ]; then kill "$pid" 2>/dev/null || true; fi
  wait "$pid" 2>/dev/null || true
  check "$label: the program ended when closed" test "$ended" = yes
  local folder=$target$home/.config/tarvikflash
  check "$label: current.ini in the user's folder" test -f "$folder/current.ini"
  check "$label: windows.ini in the user's folder, placement saved" grep -q "^Saved=1" "$folder/windows.ini"
  local stray
  stray=$(find "$target/usr" "$target/etc" -newer "$marker" -type f 2>/dev/null | sed "s|^$target||")
  check "$label: nothing written under /usr or /etc" test -z "$stray"
  [ -z "$stray" ] || echo "$stray"
  (cd "$target" && find ".$home" -type f | sed 's|^\.||')
}

run_installed user technician /home/technician
# The user's placement, moved by hand, must be what the next start reads.
sed -i -e 's/^Left=.*/Left=40/' -e 's/^Top=.*/Top=60/' -e 's/^Right=.*/Right=896/' -e 's/^Bottom=.*/Bottom=478/' \
  "$target/home/technician/.config/tarvikflash/windows.ini" || true
run_installed user-again technician /home/technician kept
run_installed root root /tmp/fresh-root-home

echo "package-check: $passed passed, $failed failed"
((failed == 0))
