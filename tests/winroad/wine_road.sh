#!/bin/sh
# wine_road.sh WINE ROAD IMAGE PICTURES
# tarvik-road.exe (the program's windows, driven as a technician would) under
# Wine with Qt's Windows platform on a private Xvfb screen: a door detector of
# this test's own behind TARVIK_WIN_ROAD_COM (scripts/wine.sh lists the port)
# is connected at start, offered VER 14.002.028 by the rule beside the
# program, reflashed with "Перепрошить" to its success, and left; its flash
# must then hold IMAGE byte for byte. The pictures of the windows it passed
# stay in PICTURES.
# Exits 77 (skipped) without the stage's ports.
set -u
wine=$1 road=$2 image=$3 pictures=$4
if [ -z "${TARVIK_WIN_ROAD_COM:-}" ] || [ -z "${TARVIK_WIN_ROAD_LINK:-}" ] || [ -z "${TARVIK_WIN_SIM:-}" ]; then
  echo "no simulated COM ports: run through scripts/wine.sh"
  exit 77
fi
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -f "$TARVIK_WIN_ROAD_LINK"
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  for f in "$work"/road.txt "$work"/sim.log; do
    [ -f "$f" ] && { echo "--- $(basename "$f")"; tail -60 "$f"; }
  done
  exit 1
}

# Answers at once and erases in a moment, so the road takes seconds, not the
# minute of a real line.
"$TARVIK_WIN_SIM" --unpaced --erase-ms 100 --link "$TARVIK_WIN_ROAD_LINK" --version-reply "VER 14.002.020" \
  --unit-name QTT1 --flash-out "$work/flash" </dev/null >"$work/sim.log" 2>&1 &
sim_pid=$!
tries=0
until [ -L "$TARVIK_WIN_ROAD_LINK" ]; do
  tries=$((tries + 1))
  [ "$tries" -le 100 ] || fail "the simulator did not publish its port"
  sleep 0.05
done

# The program's folder: the rule that offers build 28 to build 20.
mkdir -p "$work/program" "$pictures"
printf '[UpdateRules]\r\n14.002.000=0,20->28\r\n' >"$work/program/update.ini"
started=$(date +%s)
# Bounded below the test's own time-out, so that a road that hangs still
# leaves what it printed and the device's log in the test's output.
timeout --kill-after=10 240 env QT_QPA_PLATFORM=windows xvfb-run -a -s "-screen 0 1920x1080x24" \
  "$wine" "$road" reflash "Z:$work/program" "$TARVIK_WIN_ROAD_COM" "Z:$pictures" >"$work/road.log" 2>&1
rc=$?
# Its texts come in the system's code page, Windows-1251 on a Russian system.
iconv -f cp1251 -t utf-8 "$work/road.log" >"$work/road.txt"
echo "the road took $(($(date +%s) - started)) s"
[ "$rc" -ne 124 ] && [ "$rc" -ne 137 ] || fail "the road did not end within 240 s"
cat "$work/road.txt"
[ "$rc" -eq 0 ] || fail "the road ended with $rc"
grep -q 'Перепрошивка успешно завершена!' "$work/road.txt" || fail "the reflash window did not tell its success"

# The simulator writes the flash it holds when it ends.
kill -TERM "$sim_pid"
wait "$sim_pid"
sim_pid=
"$TARVIK_WIN_SIM" --expected-flash "$image" >"$work/expected" || fail "no expected flash"
cmp -s "$work/expected" "$work/flash" || fail "the device's flash is not the image"
echo "the device's flash holds the image ($(wc -l <"$work/flash") blocks)"
