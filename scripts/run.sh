#!/usr/bin/env bash
# Builds the tool and starts it. Without a display it runs under Xvfb and
# saves a screenshot of the main window to out/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIK_BENCH=OFF >/dev/null
ninja -C build/run tarvikflash
app=build/run/src/app/tarvikflash
mkdir -p out
if [ -n "${DISPLAY:-}" ]; then
  exec "$app"
fi
echo "No display: running under Xvfb; screenshots go to out/"
xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
  "$0" & pid=$!
  sleep 4
  import -window root out/main-window.png
  kill $pid; wait $pid 2>/dev/null || true
' "$app"
echo "Saved out/main-window.png"
