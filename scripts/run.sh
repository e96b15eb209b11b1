#!/usr/bin/env bash
# Builds the tool and runs it against a simulated reed-switch door detector
# that reports VER 14.002.020, published as the port /dev/ttyV0. An update.ini
# with the rule 14.002.000 = 20->28 is written beside the program if none is
# there, so the decision offers VER 14.002.028.
#
# With a display the tool opens for you: pick ttyV0 in the connection dialog.
# Without one the same road runs by itself on the real windows (offscreen)
# and saves a picture of each window it passes to out/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_BENCH=OFF >/dev/null
ninja -C build/run tarvikflash tarvik-sim tarvik-road

appdir=build/run/src/app
port=${TARVIK_DEMO_PORT:-ttyV0}
mkdir -p out
if [ ! -f "$appdir/update.ini" ]; then
  printf '[UpdateRules]\r\n14.002.000=20->28\r\n' >"$appdir/update.ini"
  echo "Wrote $appdir/update.ini with the rule 14.002.000=20->28"
fi

sudo_cmd=()
[ -w /dev ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" build/run/tools/simulator/tarvik-sim --version-reply "VER 14.002.020" --unit-name QTT1 \
  --link "/dev/$port" --report out/sim-report.json >out/sim.log 2>&1 &
sim_pid=$!
trap '"${sudo_cmd[@]}" kill $sim_pid 2>/dev/null || true; wait $sim_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -L "/dev/$port" ] && break; sleep 0.1; done
[ -L "/dev/$port" ] || { echo "the simulator did not publish /dev/$port"; cat out/sim.log; exit 1; }
echo "Simulated door detector on /dev/$port ($(head -1 out/sim.log))"

if [ -n "${DISPLAY:-}" ]; then
  "$appdir/tarvikflash"
else
  echo "No display: running the road by itself; pictures go to out/"
  QT_QPA_PLATFORM=offscreen build/run/tools/demo/tarvik-road "$appdir" "$port" out
fi
