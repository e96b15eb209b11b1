# Windows test programs of a cross build under Wine, against the Linux device
# simulator. Sourced by scripts/test.sh; by hand:
#   source scripts/wine.sh
#   wine_start build/win build/h/tools/simulator/tarvik-sim && ctest --test-dir build/win
#   wine_stop
#
# wine_start makes a fresh Wine prefix in BUILD/wine, starts two simulated
# devices and maps them as COM ports of the prefix, the way Wine maps any
# serial device: a value of HKLM\Software\Wine\Ports, which also lists the
# port in HARDWARE\DEVICEMAP\SERIALCOMM as Windows does.
#   COM7  a door detector (VER 14.002.020) that leaves "+un" unanswered
#   COM8  a device that hangs up instead of answering "+v"
#   COM14 nothing yet: the window road (tests/winroad) puts its own device
#         behind it. Ports are listed when the server starts, so it is
#         listed now and points at the link the road's simulator will make.
# It starts one wineserver for the whole run and exports WINEPREFIX, the
# port names the test programs read (TARVIK_WIN_COM, TARVIK_WIN_COM_HANGUP)
# and the simulator (TARVIK_WIN_SIM), with which a test may put a device of its
# own behind another port, and the road's port with the link it points at
# (TARVIK_WIN_ROAD_COM, TARVIK_WIN_ROAD_LINK).
# wine_stop ends the simulators and that wineserver.

wine_loader=/usr/lib/wine/wine64
wine_server=/usr/lib/wine/wineserver
wine_sim_pids=()

wine_start() {  # build-dir simulator
  local build sim
  build=$(cd "$1" && pwd)
  sim=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
  wine_dir=$build/wine
  # A server an earlier run left behind is bound to the old prefix: end it
  # before the prefix goes, or nothing can reach it afterwards.
  if [ -d "$wine_dir/prefix" ]; then
    WINEPREFIX=$wine_dir/prefix "$wine_server" -k 2>/dev/null || true
  fi
  rm -rf "$wine_dir"
  mkdir -p "$wine_dir"
  export WINEPREFIX=$wine_dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

  "$sim" --link "$wine_dir/com7" --fault silence@un </dev/null >"$wine_dir/com7.log" 2>&1 &
  wine_sim_pids+=($!)
  "$sim" --link "$wine_dir/com8" --fault silence@v --fault hangup@v </dev/null >"$wine_dir/com8.log" 2>&1 &
  wine_sim_pids+=($!)
  local tries=0
  until [ -L "$wine_dir/com7" ] && [ -L "$wine_dir/com8" ]; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
      echo "wine: the simulators did not publish their ports" >&2
      cat "$wine_dir"/com*.log >&2
      return 1
    fi
    sleep 0.05
  done

  "$wine_loader" wineboot --init >"$wine_dir/prefix.log" 2>&1 || { cat "$wine_dir/prefix.log" >&2; return 1; }
  local port
  for port in 7 8 14; do
    "$wine_loader" reg add 'HKLM\Software\Wine\Ports' /v "COM$port" /t REG_SZ /d "$wine_dir/com$port" /f \
      >>"$wine_dir/prefix.log" 2>&1 || return 1
  done
  # The ports are mapped when a server starts: end the one that made the
  # prefix and keep a fresh one up until wine_stop.
  "$wine_server" -k 2>/dev/null || true
  "$wine_server" -w
  "$wine_server" -p >>"$wine_dir/server.log" 2>&1
  "$wine_loader" reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' >>"$wine_dir/prefix.log" 2>&1
  if [ ! -L "$WINEPREFIX/dosdevices/com7" ] || [ ! -L "$WINEPREFIX/dosdevices/com8" ]; then
    echo "wine: COM7 and COM8 were not mapped" >&2
    cat "$wine_dir/prefix.log" >&2
    return 1
  fi
  export TARVIK_WIN_COM=COM7 TARVIK_WIN_COM_HANGUP=COM8 TARVIK_WIN_SIM=$sim
  export TARVIK_WIN_ROAD_COM=COM14 TARVIK_WIN_ROAD_LINK=$wine_dir/com14
}

wine_stop() {
  local pid
  for pid in "${wine_sim_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  wine_sim_pids=()
  if [ -n "${WINEPREFIX:-}" ]; then
    "$wine_server" -k 2>/dev/null || true
    "$wine_server" -w 2>/dev/null || true
  fi
}
