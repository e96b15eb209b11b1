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
#   wine_cli.sh batch WINE CLI IMAGE      two door detectors of this test's
#                                         own, behind COM12 and COM13, are
#                                         identified and flashed from one
#                                         command each, as JSON and with a
#                                         record, and each flash holds IMAGE
#   wine_cli.sh net WINE CLI IMAGE        a door detector of this test's own
#                                         behind Debian's ser2net on 127.0.0.1
#                                         is identified as tcp://127.0.0.1:PORT
#                                         and flashed as rfc2217://127.0.0.1:PORT
#                                         (Winsock), and its flash then holds
#                                         IMAGE
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
sim_pids=
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  [ -n "$sim_pid" ] && wait "$sim_pid" 2>/dev/null
  for pid in $sim_pids; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  for n in 9 12 13; do
    link=$WINEPREFIX/dosdevices/com$n
    [ -L "$link" ] && [ "$(readlink "$link")" = "$work/com$n" ] && rm -f "$link"
  done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  for f in "$work"/out "$work"/err "$work"/sim.log "$work"/ser2net.log; do
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
  # Without rules flash would need --image: the code it would end with.
  [ "$rc" -eq 4 ] || fail "identify ended with $rc, not 4"
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
  # The device is gone once its last block is written: nothing to ask after it.
  (cd "$work" && "$wine" "$cli" flash COM9 --rules update.ini --log flash.log --no-verify) >"$work/out" 2>"$work/err"
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
batch)
  image=$4
  for n in 12 13; do
    "$TARVIK_WIN_SIM" --unpaced --erase-ms 100 --link "$work/com$n" --flash-out "$work/flash$n" \
      </dev/null >"$work/sim$n.log" 2>&1 &
    sim_pids="$sim_pids $!"
  done
  tries=0
  until [ -L "$work/com12" ] && [ -L "$work/com13" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || fail "the simulators did not publish their ports"
    sleep 0.05
  done
  ln -sfn "$work/com12" "$WINEPREFIX/dosdevices/com12"
  ln -sfn "$work/com13" "$WINEPREFIX/dosdevices/com13"
  printf '[UpdateRules]\r\n14.002.000=20->28\r\n' >"$work/update.ini"
  # What flash would do, for both, as one JSON line each.
  (cd "$work" && "$wine" "$cli" identify COM12 COM13 --rules update.ini --json) >"$work/out" 2>"$work/err"
  rc=$?
  [ "$rc" -eq 0 ] || fail "identify of two ports ended with $rc"
  python3 -c '
import json, sys
records = [json.loads(line) for line in open(sys.argv[1]) if line.strip()]
assert sorted(r["port"] for r in records) == ["COM12", "COM13"], records
assert all(r["outcome"] == "offered" and r["image_version"] == "VER 14.002.028" for r in records), records
' "$work/out" || fail "identify --json: not one offer per port"
  started=$(date +%s)
  (cd "$work" && "$wine" "$cli" flash COM12 COM13 --rules update.ini --record bench.jsonl --log flash.log) \
    >"$work/out" 2>"$work/err"
  rc=$?
  echo "flash of two ports took $(($(date +%s) - started)) s"
  [ "$rc" -eq 0 ] || fail "flash of two ports ended with $rc"
  iconv -f cp1251 -t utf-8 "$work/out" | grep -q 'Устройств: 2 (проверено: 2)' || fail "no summary of two verified"
  python3 -c '
import json, sys
records = [json.loads(line) for line in open(sys.argv[1]) if line.strip()]
assert sorted(r["port"] for r in records) == ["COM12", "COM13"], records
for r in records:
    assert r["outcome"] == "verified" and r["version_after"] == "VER 14.002.028", r
    assert len(r["image_sha256"]) == 64 and r["exit_code"] == 0, r
' "$work/bench.jsonl" || fail "the record is not two verified devices"
  for pid in $sim_pids; do kill "$pid"; wait "$pid"; done
  sim_pids=
  "$TARVIK_WIN_SIM" --expected-flash "$image" >"$work/expected" || fail "no expected flash"
  for n in 12 13; do
    cmp -s "$work/expected" "$work/flash$n" || fail "the flash behind COM$n is not the image"
  done
  echo "flashed two: $(tail -1 "$work/sim12.log"); $(tail -1 "$work/sim13.log")"
  ;;
net)
  image=$4
  ser2net=$(command -v ser2net || echo /usr/sbin/ser2net)
  [ -x "$ser2net" ] || { echo "no ser2net"; exit 77; }
  "$TARVIK_WIN_SIM" --unpaced --erase-ms 100 --link "$work/device" --flash-out "$work/flash" \
    </dev/null >"$work/sim.log" 2>&1 &
  sim_pid=$!
  tries=0
  until [ -L "$work/device" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || fail "the simulator did not publish its port"
    sleep 0.05
  done
  # Two ports of 127.0.0.1 nobody listens on, one a kind, to the same line.
  ports=$(python3 -c '
import socket
socks = [socket.socket() for _ in range(2)]
for s in socks: s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in socks))
')
  raw=${ports% *} telnet=${ports#* }
  {
    echo "connection: &raw"
    echo "  accepter: tcp,127.0.0.1,$raw"
    echo "  connector: serialdev,$work/device,19200n81,local"
    echo "connection: &telnet"
    echo "  accepter: telnet(rfc2217),tcp,127.0.0.1,$telnet"
    echo "  connector: serialdev,$work/device,19200n81,local"
  } >"$work/ser2net.yaml"
  "$ser2net" -n -d -c "$work/ser2net.yaml" >"$work/ser2net.log" 2>&1 &
  server_pid=$!
  tries=0
  until python3 -c "import socket; socket.create_connection(('127.0.0.1', $raw), 1).close()" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || fail "ser2net does not listen"
    sleep 0.1
  done
  printf '[UpdateRules]\r\n14.002.000=20->28\r\n' >"$work/update.ini"
  (cd "$work" && "$wine" "$cli" identify "tcp://127.0.0.1:$raw" --rules update.ini --json) >"$work/out" 2>"$work/err"
  rc=$?
  [ "$rc" -eq 0 ] || fail "identify through the raw port ended with $rc"
  grep -q '"VER 14.002.028"' "$work/out" || fail "identify through the raw port offered nothing"
  started=$(date +%s)
  (cd "$work" && "$wine" "$cli" flash "rfc2217://127.0.0.1:$telnet" --rules update.ini --log flash.log --no-verify) \
    >"$work/out" 2>"$work/err"
  rc=$?
  echo "flash through the Telnet port took $(($(date +%s) - started)) s"
  [ "$rc" -eq 0 ] || fail "flash ended with $rc"
  iconv -f cp1251 -t utf-8 "$work/out" | grep -q 'Перепрошивка успешно завершена!' || fail "no success line"
  # The simulator writes the flash it holds when it ends.
  kill -TERM "$sim_pid"
  wait "$sim_pid"
  sim_pid=
  "$TARVIK_WIN_SIM" --expected-flash "$image" >"$work/expected" || fail "no expected flash"
  cmp -s "$work/expected" "$work/flash" || fail "the device's flash is not the image"
  echo "flashed through ser2net: $(wc -l <"$work/flash") blocks"
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
