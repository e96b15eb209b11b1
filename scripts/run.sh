#!/usr/bin/env bash
# Builds the tool and runs it against a simulated reed-switch door detector
# that reports VER 14.002.020, published as the port /dev/ttyV0. An update.ini
# with the rule 14.002.000 = 0,20->28 is written beside the program if none is
# there, so the decision offers VER 14.002.028; build 0 is what a door
# detector left in its bootloader by a reflash cut off half way reports.
#
# With a display the tool opens for you: pick ttyV0 in the connection dialog.
# Without one three roads run by themselves on the real windows (offscreen)
# and save a picture of each window they pass to out/:
#   1. the reflash: connect, identify, reflash to VER 14.002.028 at the
#      line's real pace (about a minute), leave; then the simulator's flash
#      is compared with the image, byte for byte;
#   2. the service menu: a motion detector on /dev/ttyV1, its firmware offer
#      declined, the service menu's update from a HEX file shown in the
#      viewer; then the device's flash is compared with the file's data;
#   3. the recovery: a door detector on /dev/ttyV2 whose reflash is left a
#      fifth of the way through; connected again, it answers from its
#      bootloader, is offered its image again and reflashed to the end; then
#      its flash is compared with the image;
#   4. a lost line: a door detector on /dev/ttyV3 taken away while the
#      reflash window waits for the start, and what the window says then;
#   5. a failed service reflash: a motion detector on /dev/ttyV4 that does
#      not take the writes, and how the failure is told.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_BENCH=OFF >/dev/null
ninja -C build/run tarvikflash tarvik-sim tarvik-road

appdir=build/run/src/app
sim=build/run/tools/simulator/tarvik-sim
port=${TARVIK_DEMO_PORT:-ttyV0}
service_port=${TARVIK_DEMO_SERVICE_PORT:-ttyV1}
recovery_port=${TARVIK_DEMO_RECOVERY_PORT:-ttyV2}
lost_port=${TARVIK_DEMO_LOST_PORT:-ttyV3}
failing_port=${TARVIK_DEMO_FAILING_PORT:-ttyV4}
stale_port=${TARVIK_DEMO_STALE_PORT:-ttyV5}
mkdir -p out
# An update.ini that an earlier version of this script wrote, without build 0,
# is replaced; one written by hand is left alone.
if [ ! -f "$appdir/update.ini" ] || cmp -s "$appdir/update.ini" <(printf '[UpdateRules]\r\n14.002.000=20->28\r\n'); then
  printf '[UpdateRules]\r\n14.002.000=0,20->28\r\n' >"$appdir/update.ini"
  echo "Wrote $appdir/update.ini with the rule 14.002.000=0,20->28"
fi

sudo_cmd=()
[ -w /dev ] || sudo_cmd=(sudo)
sim_pids=()
cleanup() {
  for pid in "${sim_pids[@]}"; do "${sudo_cmd[@]}" kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# start_sim NAME LINK ARGS...: a simulated device published as /dev/LINK.
start_sim() {
  local name=$1 link=$2
  shift 2
  "${sudo_cmd[@]}" "$sim" --link "/dev/$link" --report "out/$name-report.json" --flash-out "out/$name-flash.txt" \
    "$@" >"out/$name.log" 2>&1 &
  sim_pids+=($!)
  for _ in $(seq 50); do [ -L "/dev/$link" ] && break; sleep 0.1; done
  [ -L "/dev/$link" ] || { echo "the simulator did not publish /dev/$link"; cat "out/$name.log"; exit 1; }
  echo "Simulated $name on /dev/$link ($(head -1 "out/$name.log"))"
}

# stop_sim: ends the newest simulator, which writes its report and flash.
stop_sim() {
  local pid=${sim_pids[-1]}
  "${sudo_cmd[@]}" kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  unset 'sim_pids[-1]'
}

start_sim door "$port" --version-reply "VER 14.002.020" --unit-name QTT1

if [ -n "${DISPLAY:-}" ]; then
  "$appdir/tarvikflash"
  exit 0
fi

echo "No display: running the roads by themselves; pictures go to out/"
# Offscreen, on a screen the size of a common desktop.
printf '{"screens": [{"name": "desktop", "x": 0, "y": 0, "width": 1920, "height": 1080}]}' >out/screen.json
export QT_QPA_PLATFORM="offscreen:configfile=$root/out/screen.json"
build/run/tools/demo/tarvik-road reflash "$appdir" "$port" out
stop_sim
"$sim" --expected-flash resources/images/002.hex >out/door-expected-flash.txt
if cmp -s out/door-flash.txt out/door-expected-flash.txt; then
  echo "The door detector's flash holds exactly the data of VER 14.002.028 ($(wc -l <out/door-flash.txt) blocks)"
else
  echo "The door detector's flash differs from VER 14.002.028"; exit 1
fi

start_sim motion "$service_port" --version-reply "VER 14.003.037" --unit-name QLT1
build/run/tools/demo/tarvik-road service "$appdir" "$service_port" out
stop_sim
if cmp -s out/motion-flash.txt out/service-expected-flash.txt; then
  echo "The motion detector's flash holds exactly the HEX file's data, FF in its gap ($(wc -l <out/motion-flash.txt) blocks)"
else
  echo "The motion detector's flash differs from the HEX file"; exit 1
fi

start_sim recovery "$recovery_port" --version-reply "VER 14.002.020" --unit-name QTT1
build/run/tools/demo/tarvik-road recovery "$appdir" "$recovery_port" out
stop_sim
if cmp -s out/recovery-flash.txt out/door-expected-flash.txt; then
  echo "The recovered door detector's flash holds exactly the data of VER 14.002.028 ($(wc -l <out/recovery-flash.txt) blocks)"
else
  echo "The recovered door detector's flash differs from VER 14.002.028"; exit 1
fi

start_sim lost "$lost_port" --version-reply "VER 14.002.020" --unit-name QTT1
rm -f out/lostline-ready
build/run/tools/demo/tarvik-road lostline "$appdir" "$lost_port" out &
road=$!
for _ in $(seq 300); do [ -f out/lostline-ready ] && break; sleep 0.1; done
stop_sim  # the adapter is pulled out
wait "$road" || { echo "The reflash window did not tell the lost line"; exit 1; }

start_sim failing "$failing_port" --version-reply "VER 14.003.037" --unit-name QLT1 --fault wrong-echo@W
build/run/tools/demo/tarvik-road servicefailure "$appdir" "$failing_port" out
stop_sim

# A door detector that keeps running its old firmware after every block was
# written: told as not verified, with the version it names.
start_sim stale "$stale_port" --version-reply "VER 14.002.020" --unit-name QTT1 --fault stale-version@v
build/run/tools/demo/tarvik-road stale "$appdir" "$stale_port" out
stop_sim
echo "All roads ended as they should"
