#!/bin/sh
# tarvik-cli.exe under Wine against the Linux device simulator, in the Wine
# stage (scripts/wine.sh has made the prefix and exported its ports):
#   wine_cli.sh identify WINE CLI         the ports are listed (as text and as
#                                         JSON), --version answers, and the
#                                         door detector on TARVIK_WIN_COM
#                                         (COM7) is identified
#   wine_cli.sh flash WINE CLI IMAGE      a door detector of this test's own,
#                                         behind COM9, is flashed by the rules
#                                         with IMAGE, which its flash then holds
#   wine_cli.sh refuse WINE CLI           files that cannot be used stop the
#                                         tool before it opens a port, an
#                                         option's value "help" is a value, and
#                                         --wait for a port that never comes
#                                         ends as without it
# Exits 77 (skipped) without the stage's ports.
set -u
what=$1 wine=$2 cli=$3
if [ -z "${TARVIK_WIN_COM:-}" ] || [ -z "${TARVIK_WIN_SIM:-}" ] || [ -z "${WINEPREFIX:-}" ]; then
  echo "no simulated COM ports: run through scripts/wine.sh"
  exit 77
fi
work=$(mktemp -d)
sim_pid=
com9=$WINEPREFIX/dosdevices/com9
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  [ -n "$sim_pid" ] && wait "$sim_pid" 2>/dev/null
  [ -L "$com9" ] && [ "$(readlink "$com9")" = "$work/com9" ] && rm -f "$com9"
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  for f in "$work"/out "$work"/err "$work"/sim.log; do
    [ -f "$f" ] && { echo "--- $(basename "$f")"; iconv -f cp1251 -t utf-8 "$f" 2>/dev/null || cat "$f"; }
  done
  # The end of the tool's log: the exchanges that led up to the failure.
  [ -f "$work/flash.log" ] && { echo "--- flash.log (end)"; tail -40 "$work/flash.log" | iconv -f cp1251 -t utf-8 2>/dev/null; }
  exit 1
}

case $what in
identify)
  # The ports come from the system's serial-port map, where the stage put them.
  "$wine" "$cli" ports >"$work/out" 2>"$work/err" || fail "ports ended with $?"
  grep -q '^COM7' "$work/out" && grep -q '^COM8' "$work/out" || fail "COM7 and COM8 not listed"
  # The same for scripts: a JSON array with an object a port, the facts the
  # system has not (Wine's ports are no USB devices) null.
  "$wine" "$cli" ports --json >"$work/out" 2>"$work/err" || fail "ports --json ended with $?"
  python3 -c '
import json, sys
ports = json.load(open(sys.argv[1]))
names = [p["port"] for p in ports]
assert "COM7" in names and "COM8" in names, names
assert all(set(p) == {"port", "stable_name", "vendor_id", "product_id", "manufacturer", "product",
                      "serial_number"} for p in ports), ports
' "$work/out" || fail "ports --json is not the list of ports"
  "$wine" "$cli" --version >"$work/out" 2>"$work/err" || fail "--version ended with $?"
  grep -q '^tarvik-cli [0-9]*\.[0-9]*\.[0-9]*\.[0-9]*' "$work/out" || fail "--version: no name and version"
  echo "ports and version: $(tr -d '\r' <"$work/out")"
  "$wine" "$cli" identify "$TARVIK_WIN_COM" --no-rules >"$work/out" 2>"$work/err"
  rc=$?
  [ "$rc" -eq 0 ] || fail "identify ended with $rc"
  grep -q ' : VER 14.002.020' "$work/out" || fail "no version line"
  # The images the user may choose from, since there are no rules.
  grep -q '    2  VER 14.002.028' "$work/out" || fail "no image list"
  echo "identified: $(grep -a 'VER 14.002.020' "$work/out" | tr -d '\r')"
  ;;
flash)
  image=$4
  # Answers at once and erases in a moment; ends once block 0000 is written.
  "$TARVIK_WIN_SIM" --unpaced --erase-ms 100 --exit-after-last --link "$work/com9" \
    --flash-out "$work/flash" </dev/null >"$work/sim.log" 2>&1 &
  sim_pid=$!
  tries=0
  until [ -L "$work/com9" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || fail "the simulator did not publish its port"
    sleep 0.05
  done
  ln -sfn "$work/com9" "$com9"
  printf '[UpdateRules]\r\n14.002.000=20->28\r\n' >"$work/update.ini"
  started=$(date +%s)
  (cd "$work" && "$wine" "$cli" flash COM9 --rules update.ini --log flash.log) >"$work/out" 2>"$work/err"
  rc=$?
  echo "flash took $(($(date +%s) - started)) s"
  [ "$rc" -eq 0 ] || fail "flash ended with $rc"
  iconv -f cp1251 -t utf-8 "$work/out" | grep -q 'Перепрошивка успешно завершена!' || fail "no success line"
  wait "$sim_pid"
  sim_pid=
  "$TARVIK_WIN_SIM" --expected-flash "$image" >"$work/expected" || fail "no expected flash"
  cmp -s "$work/expected" "$work/flash" || fail "the device's flash is not the image"
  # The log: the message log's lines, CR LF, the "BL" exchange among them.
  grep -q '#com<-: +BL<CR>' "$work/flash.log" || fail "no BL in the log"
  [ "$(grep -c "$(printf '\r')\$" "$work/flash.log")" -eq "$(wc -l <"$work/flash.log")" ] || fail "log lines without CR LF"
  echo "flashed: $(tail -1 "$work/sim.log")"
  ;;
refuse)
  # COM99 is not there: exit code 3 would mean the tool went on to the port.
  mkdir "$work/folder"
  # One byte at 0x10000, which the device cannot take, and one at 0.
  printf ':020000040001F9\r\n:0100000055AA\r\n:020000040000FA\r\n:0100000055AA\r\n:00000001FF\r\n' \
    >"$work/above.hex"
  expect() {  # CODE TEXT ARGS...: the tool ends with CODE and says TEXT
    code=$1 text=$2
    shift 2
    (cd "$work" && "$wine" "$cli" "$@") >"$work/out" 2>"$work/err"
    rc=$?
    [ "$rc" -eq "$code" ] || fail "$* ended with $rc, not $code"
    iconv -f cp1251 -t utf-8 "$work/err" | grep -qF "$text" || fail "$*: no \"$text\""
    echo "$*: $rc, $(iconv -f cp1251 -t utf-8 "$work/err" | tr -d '\r' | tr '\n' ' ')"
  }
  expect 1 'Не удалось прочитать файл правил "folder": это папка, а не файл.' flash COM99 --image 2 --rules folder
  expect 1 'Не удалось прочитать файл: это папка, а не файл.' flash-hex COM99 folder
  expect 1 'Данные выше 64 КБ не загружены, пропущено байт: 1' flash-hex COM99 above.hex
  expect 3 'Ошибка при открытии Com порта!' flash COM99 --image 2 --log help
  # --wait gives a port that never comes its time, then ends as without it.
  expect 3 'Ошибка при открытии Com порта!' identify COM99 --wait 1
  iconv -f cp1251 -t utf-8 "$work/out" | grep -qF 'Порта COM99 нет, ожидание до 1 сек...' || fail "--wait: no word of the wait"
  ;;
*)
  echo "unknown case $what"
  exit 2
  ;;
esac
